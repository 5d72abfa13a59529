#pragma once

// Output paths as the archive stores them use the backslash as their only
// directory separator.

#include <string>

// The path with each backslash turned into this platform's separator.
std::string NativePath(const std::string& archivePath);

// Makes every directory on the way to the file `archivePath` exist, creating
// missing ones from the deepest missing directory's topmost missing ancestor
// down. False, with the reason the system gave, when one cannot be created.
bool EnsureParentDirectories(const std::string& archivePath, std::string* reason);
