#include "core/machine/image/demo/demo_content.h"
#include "core/machine/image/machine_builder.h"

namespace brisko {

void addDemoRegistryProblems(MachineBuilder&) {}

}  // namespace brisko
