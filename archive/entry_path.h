#pragma once

// Entry paths as the archive stores them: relative, with the backslash as
// their only directory separator.

#include <string>

namespace unpak {

// Whether an entry path may name an output, by its form alone: only
// relative paths that stay inside the current directory. False, with the
// reason, otherwise.
bool CheckOutputPathForm(const std::string& archivePath, std::string* reason);

// The path with each backslash turned into this platform's separator.
std::string NativePath(const std::string& archivePath);

}  // namespace unpak
