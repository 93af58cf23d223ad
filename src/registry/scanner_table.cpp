// The scanner table of a real scan. Kept in its own unit so that code which
// brings its own scanners (tests, tools) does not pull in every scanner.
#include "registry/scan_context.h"

namespace brisko {

const ScannerTable& defaultScannerTable() {
    static const ScannerTable table = [] {
        ScannerTable t;
        addFileReferenceScanners(t);
        addComScanners(t);
        return t;
    }();
    return table;
}

}  // namespace brisko
