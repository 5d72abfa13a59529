#include "platform/parent_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace unpak {

namespace {

std::string LinkReason(const std::string& directory) {
  return "parent directory \"" + directory + "\" is a symbolic link";
}

}  // namespace

// Every existing prefix of the parent directory is looked at with lstat, so
// a link is refused wherever it stands and wherever it points: a link inside
// the folder may be changed to point elsewhere, and nothing an archive
// writes could ever be a link. The walk stops at the first prefix that does
// not exist (the rest will be created as real directories) or that cannot
// be looked at (a file standing where a directory should be makes the
// output's creation fail later, with its own message). The file itself may
// be a link: the finished output is renamed over it, never written through.
bool CheckParentLinks(const std::string& path, std::string* reason) {
  for (size_t separator = path.find('/'); separator != std::string::npos;
       separator = path.find('/', separator + 1)) {
    const std::string directory = path.substr(0, separator);
    struct stat info;
    if (lstat(directory.c_str(), &info) != 0) return true;
    if (S_ISLNK(info.st_mode)) {
      *reason = LinkReason(directory);
      return false;
    }
  }
  return true;
}

DirectoryHandle::~DirectoryHandle() {
  if (fd >= 0) close(fd);
}

bool OpenParentDirectory(const std::string& path, DirectoryHandle* directory, std::string* reason) {
  directory->fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory->fd < 0) {
    *reason = std::string("cannot open the current folder: ") + std::strerror(errno);
    return false;
  }
  size_t start = 0;
  for (size_t separator = path.find('/'); separator != std::string::npos;
       start = separator + 1, separator = path.find('/', start)) {
    const std::string step = path.substr(start, separator - start);
    const int next =
        openat(directory->fd, step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      const int error = errno;
      struct stat info;
      const bool link = fstatat(directory->fd, step.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISLNK(info.st_mode);
      const std::string walked = path.substr(0, separator);
      *reason = link ? LinkReason(walked)
                     : "cannot open the folder " + walked + ": " + std::strerror(error);
      return false;
    }
    close(directory->fd);
    directory->fd = next;
  }
  return true;
}

}  // namespace unpak
