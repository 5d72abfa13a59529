#pragma once

#include <string>

namespace unpak {

// Whether an archive may write at `archivePath` (backslash-separated): only
// relative paths that stay inside the current directory and do not pass
// through symbolic links. False, with the reason, otherwise.
bool CheckOutputPath(const std::string& archivePath, std::string* reason);

}  // namespace unpak
