#include "app/directories.h"

#include <sys/stat.h>

#include <algorithm>

namespace {

bool Exists(const std::string& archivePath) {
  struct stat info;
  return stat(NativePath(archivePath).c_str(), &info) == 0;
}

bool CreateDirectory(const std::string& archivePath) {
  return mkdir(NativePath(archivePath).c_str(), 0777) == 0;
}

}  // namespace

std::string NativePath(const std::string& archivePath) {
  std::string native = archivePath;
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

void EnsureParentDirectories(const std::string& archivePath) {
  const size_t separator = archivePath.rfind('\\');
  // No separator: the current directory. A leading one only: the root.
  if (separator == std::string::npos || separator == 0) return;
  const std::string parent = archivePath.substr(0, separator);
  if (Exists(parent)) return;
  if (CreateDirectory(parent)) return;
  EnsureParentDirectories(parent);
  CreateDirectory(parent);
}
