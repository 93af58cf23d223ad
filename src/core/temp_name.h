#pragma once
// Names for temporary files written beside the file they will replace.
#include <string>

namespace brisko {

// ".~" and eight random hex digits: a name nobody can have planted beforehand,
// for a file that is then created new (never an existing one truncated).
std::string uniqueSuffix();
// Eight random hex digits, for callers whose names have their own shape.
std::string randomHex();

}  // namespace brisko
