#include "app/output_path_links.h"

#include <sys/stat.h>

#include "app/directories.h"

// Every existing prefix of the parent directory is looked at with lstat, so
// a link is refused wherever it stands and wherever it points: a link inside
// the folder may be changed to point elsewhere, and nothing an archive
// writes could ever be a link. The walk stops at the first prefix that does
// not exist (the rest will be created as real directories) or that cannot
// be looked at (a file standing where a directory should be makes the
// output's creation fail later, with its own message). The file itself may
// be a link: the finished output is renamed over it, never written through.
bool CheckParentLinks(const std::string& archivePath, std::string* reason) {
  for (size_t separator = archivePath.find('\\'); separator != std::string::npos;
       separator = archivePath.find('\\', separator + 1)) {
    const std::string directory = NativePath(archivePath.substr(0, separator));
    struct stat info;
    if (lstat(directory.c_str(), &info) != 0) return true;
    if (S_ISLNK(info.st_mode)) {
      *reason = "parent directory \"" + directory + "\" is a symbolic link";
      return false;
    }
  }
  return true;
}
