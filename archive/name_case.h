#pragma once

// Entry names compared as the archives' own system compares file names:
// ASCII letters without regard to case, every other byte as it is.

#include <string>

namespace unpak {

// The name with ASCII capitals made small: equal for names that name one file there.
std::string FoldedName(const std::string& name);

bool SameNameIgnoringCase(const std::string& a, const std::string& b);

}  // namespace unpak
