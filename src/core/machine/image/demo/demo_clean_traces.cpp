#include "core/machine/image/demo/demo_content.h"
#include "core/machine/image/machine_builder.h"

namespace brisko {

void addDemoCleanTraces(MachineBuilder&) {}

}  // namespace brisko
