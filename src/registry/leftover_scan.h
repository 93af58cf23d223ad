#pragma once
// What a fix's own deletions leave behind: a command key whose command value
// went, a key left empty once its last value went, the parents of such keys.
// The scan that found the rows is run again, in place, over the same
// sections; the rows it finds anew at or above a key the fix changed are the
// fix's leftovers. They are shown to the user, never deleted unseen.
#include <string>
#include <vector>

#include "registry/key_identity.h"
#include "registry/registry_problem.h"
#include "registry/scan_context.h"

namespace brisko {

struct TOptionsSetting;

// The sections scanned on the calling thread, the rows checked and filtered
// (ignore lists, built-in exclusions, duplicates) as at the end of a scan.
std::vector<RegistryProblem> scanInPlace(Machine& machine, const ScanEnvironment& env,
                                         const std::vector<int>& sections,
                                         const TOptionsSetting& settings, int windowsVersionCode,
                                         const ScannerTable& scanners = defaultScannerTable());

// Whether the upper-cased key path `ancestor` is `key` or one of its parents.
bool keyAtOrAbove(std::string_view ancestor, std::string_view key);

// The key a row's fix changes: the key itself, the parent of a value, the
// subkey of a pkDataSubkey row. Empty for a file row.
std::string rowTargetKey(const RegistryProblem& row);

// Rows of `fresh` that are in none of `known` (checked state aside) and whose
// key is one of `changedKeys` or an ancestor of one, whatever root either is
// written under. Anything else a new scan finds was not made by the fix and
// is left for the user to see.
std::vector<RegistryProblem> leftoverRows(const std::vector<RegistryProblem>& fresh,
                                          const std::vector<RegistryProblem>& known,
                                          const std::vector<std::string>& changedKeys,
                                          const KeyIdentity& identity);

}  // namespace brisko
