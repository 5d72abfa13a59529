#pragma once

// Patterns that select entries by path. A pattern selects an entry whose
// stored path it spells out literally, backslashes and all; otherwise it is
// a shell pattern (fnmatch) matched against the path with its backslashes
// read as slashes. Letter case is ignored either way: for every letter when
// both are valid UTF-8 (as towlower folds them in C.UTF-8), for ASCII
// letters otherwise.

#include <string>

namespace unpak {

bool EntryPathMatches(const std::string& pattern, const std::string& storedPath);

}  // namespace unpak
