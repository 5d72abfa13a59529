#pragma once

#include <string>

namespace unpak {

// Makes every directory on the way to the file `path` (relative, separated
// by "/") exist, creating missing ones from the deepest missing directory's
// topmost missing ancestor down. False, with the reason the system gave,
// when one cannot be created.
bool EnsureParentDirectories(const std::string& path, std::string* reason);

}  // namespace unpak
