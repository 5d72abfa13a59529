#include "platform/directories.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace unpak {

namespace {

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// 0, or the error that kept the directory from being made.
int CreateDirectory(const std::string& path) { return mkdir(path.c_str(), 0777) == 0 ? 0 : errno; }

}  // namespace

bool EnsureParentDirectories(const std::string& path, std::string* reason) {
  const size_t separator = path.rfind('/');
  // No separator: the current directory. A leading one only: the root.
  if (separator == std::string::npos || separator == 0) return true;
  const std::string parent = path.substr(0, separator);
  if (Exists(parent)) return true;
  int error = CreateDirectory(parent);
  // A missing ancestor: make it, then try again. Any other error is the answer.
  if (error == ENOENT) {
    if (!EnsureParentDirectories(parent, reason)) return false;
    error = CreateDirectory(parent);
  }
  if (error != 0 && error != EEXIST) {
    *reason = "cannot create the folder " + parent + ": " + std::strerror(error);
    return false;
  }
  return true;
}

}  // namespace unpak
