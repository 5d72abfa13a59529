#pragma once

// Output paths as the archive stores them use the backslash as their only
// directory separator.

#include <string>

// The path with each backslash turned into this platform's separator.
std::string NativePath(const std::string& archivePath);

// Makes every directory on the way to the file `archivePath` exist, creating
// missing ones from the deepest missing directory's topmost missing ancestor
// down. Failures show when the file itself cannot be created.
void EnsureParentDirectories(const std::string& archivePath);
