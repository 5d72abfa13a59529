#pragma once

// The directories on the way to a file (`path`, relative, separated by
// "/"), checked for symbolic links and opened without following any.

#include <string>

namespace unpak {

// Whether the directories on the way to the file `path` can be reached
// without passing through a symbolic link. False, with the reason, at the
// first link found.
bool CheckParentLinks(const std::string& path, std::string* reason);

// A directory descriptor, closed when it goes out of scope.
struct DirectoryHandle {
  int fd = -1;
  DirectoryHandle() = default;
  DirectoryHandle(const DirectoryHandle&) = delete;
  DirectoryHandle& operator=(const DirectoryHandle&) = delete;
  ~DirectoryHandle();
};

// Opens the directory that holds the file `path` one step at a time without
// following a symbolic link, so that a link swapped in later cannot redirect
// what is put in it. False, with the reason, at a link or a step that
// cannot be opened.
bool OpenParentDirectory(const std::string& path, DirectoryHandle* directory, std::string* reason);

}  // namespace unpak
