#pragma once
// The end-of-scan filter: drops rows that fixed rules, the built-in exclusion
// lists or the user's ignore lists say must never be fixed.
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "registry/key_identity.h"
#include "registry/registry_problem.h"

namespace brisko {

// Keys the program never touches. ListBox1 is always used and ends with the
// entries of ListBox2; ListBox2 is used a second time on Vista, 7 and 8.
extern const std::array<std::string_view, 41> ListBox1;
extern const std::array<std::string_view, 10> ListBox2;

// A path upper-cased for comparison, with what the containment tests need to
// know about where a root name ("HKEY_") occurs in it.
struct FilterPath {
    explicit FilterPath(std::string upperText);
    std::string text;
    bool startsWithRoot;  // begins with "HKEY_"
    bool singleRoot;      // holds "HKEY_" nowhere after its first character
};

// One list entry under every root it can be written under (the entry as
// given first), as KeyIdentity spells it.
struct FilterEntry {
    std::vector<FilterPath> forms;
};

// The key and value lists as the filter compares them: upper-cased, key
// entries with a trailing "\", unusable (empty) entries left out; and how
// the rows' own paths are spelt under other roots.
struct FilterLists {
    std::vector<FilterEntry> keys;
    std::vector<FilterEntry> values;
    KeyIdentity identity;
};
FilterLists makeFilterLists(const std::vector<std::string>& ignoreKeys,
                            const std::vector<std::string>& ignoreValues, int windowsVersionCode,
                            KeyIdentity identity = {});

// Rules that hold whatever the lists say (known false alarms, per-user
// placeholders, paths that did not survive the code page).
bool removedByFixedRules(const RegistryProblem& row);
// The row's key or value is in, below or above an excluded key, or is an
// ignored value. pkFile rows never match.
bool removedByLists(const RegistryProblem& row, const FilterLists& lists);

// Removes every row either test matches, and every row whose fix would
// touch only what an earlier row's fix touches (the same value or key under
// another root: sections 4 and 6 both find the current user's problems).
// The others keep their order. Returns the number of rows removed.
size_t FilterProblems(std::vector<RegistryProblem>& rows, const FilterLists& lists);
size_t FilterProblems(std::vector<RegistryProblem>& rows,
                      const std::vector<std::string>& ignoreKeys,
                      const std::vector<std::string>& ignoreValues, int windowsVersionCode,
                      KeyIdentity identity = {});
// FilterProblems one row at a time, as rows arrive: a scan filters while it
// runs, so that its end (or its cancelling) only drops the rows marked.
// keep() must see the rows in list order; it answers as FilterProblems would
// for the list so far.
class ProblemFilter {
  public:
    explicit ProblemFilter(FilterLists lists);
    ~ProblemFilter();
    ProblemFilter(const ProblemFilter&) = delete;
    ProblemFilter& operator=(const ProblemFilter&) = delete;
    bool keep(const RegistryProblem& row);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The duplicate test alone; returns the number of rows removed.
size_t RemoveDuplicateProblems(std::vector<RegistryProblem>& rows, const KeyIdentity& identity);

}  // namespace brisko
