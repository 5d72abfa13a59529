#pragma once

// The file that an output such as an archive replaces at its path. Only a
// regular file that the user may write is replaced; a symbolic link at the
// path is followed to the file it names, which is replaced while the link
// stays. The file stays locked (flock) from before it is read until its
// replacement is in place, so that two runs replacing it take turns instead
// of one losing the other's work.

#include <sys/stat.h>

#include <string>

namespace unpak {

struct ReplacedFile {
  std::string path;     // where the output goes: the given path, a link there followed
  bool exists = false;  // a file stands there
  struct stat info {};
  int lock = -1;  // a descriptor of the file, holding its lock

  ReplacedFile() = default;
  ReplacedFile(const ReplacedFile&) = delete;
  ReplacedFile& operator=(const ReplacedFile&) = delete;
  ~ReplacedFile();
};

// Finds and locks what stands at `path`, waiting (and saying so) while
// another program holds the lock. False, with the reason, when anything
// but a missing path or a regular file stands there (a folder, a device, a
// FIFO, a socket, a link to nothing), or when the file is read-only.
bool OpenReplacedFile(const std::string& path, ReplacedFile* file, std::string* reason);

// False, with the reason, when the path no longer holds the file found
// there, as it was then (another program replaced or changed it).
bool ReplacedFileUnchanged(const ReplacedFile& file, std::string* reason);

// Gives the new file open at `fd` the replaced file's permissions, and its
// owner and group where the system permits.
void KeepOwnership(const ReplacedFile& file, int fd);

}  // namespace unpak
