#include "run/existing_file.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace unpak {

namespace {

bool Later(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

}  // namespace

bool KeepsExistingFile(const OpenedArchive& archive, const UnpackOptions& options, int directory,
                       const std::string& name) {
  if (options.existingFiles == ExistingFiles::kReplace) return false;
  struct stat info;
  if (fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(info.st_mode)) {
    return false;
  }
  return options.existingFiles == ExistingFiles::kKeep || Later(info.st_mtim, archive.modified);
}

}  // namespace unpak
