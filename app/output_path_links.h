#pragma once

#include <string>

// Whether the directories on the way to the file `archivePath`
// (backslash-separated, relative) can be reached without passing through a
// symbolic link. False, with the reason, at the first link found.
bool CheckParentLinks(const std::string& archivePath, std::string* reason);
