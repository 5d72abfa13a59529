#pragma once

#include <string>

// Whether the directories on the way to the file `archivePath`
// (backslash-separated, relative) can be reached without passing through a
// symbolic link. False, with the reason, at the first link found.
bool CheckParentLinks(const std::string& archivePath, std::string* reason);

// A directory descriptor, closed when it goes out of scope.
struct DirectoryHandle {
  int fd = -1;
  DirectoryHandle() = default;
  DirectoryHandle(const DirectoryHandle&) = delete;
  DirectoryHandle& operator=(const DirectoryHandle&) = delete;
  ~DirectoryHandle();
};

// Opens the directory that holds the file `archivePath` (backslash-separated,
// relative) one step at a time without following a symbolic link, so that a
// link swapped in later cannot redirect what is put in it. False, with the
// reason, at a link or a step that cannot be opened.
bool OpenParentDirectory(const std::string& archivePath, DirectoryHandle* directory,
                         std::string* reason);
