#include "platform/replaced_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/console.h"

namespace unpak {

namespace {

bool Refuse(const std::string& why, std::string* reason) {
  *reason = why;
  return false;
}

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

// The path with a symbolic link there followed to its file. The kernel
// follows it first, so that its rules on links in shared folders
// (fs.protected_symlinks) hold.
bool FollowLink(const std::string& path, std::string* followed, std::string* reason) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
    *followed = path;
    return true;
  }
  const int target = open(path.c_str(), O_PATH | O_CLOEXEC);
  if (target < 0) {
    return Refuse(errno == ENOENT
                      ? std::string("it is a symbolic link to nothing")
                      : std::string("cannot follow the symbolic link: ") + std::strerror(errno),
                  reason);
  }
  close(target);
  std::error_code error;
  *followed = std::filesystem::canonical(path, error).string();
  return !error || Refuse("cannot follow the symbolic link: " + error.message(), reason);
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool CheckKind(const struct stat& info, std::string* reason) {
  if (S_ISREG(info.st_mode)) return true;
  return Refuse(std::string("is ") + KindOf(info.st_mode) +
                    "; only a missing path or a regular file is replaced",
                reason);
}

// Locks the regular file at `path`, which the lock's holder may have
// replaced while this waited: then the new file there is locked instead.
bool LockFile(ReplacedFile* file, const std::string& shown, std::string* reason) {
  for (;;) {
    if (lstat(file->path.c_str(), &file->info) != 0) {
      file->exists = false;
      return true;
    }
    file->exists = true;
    if (!CheckKind(file->info, reason)) return false;
    file->lock =
        open(file->path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (file->lock < 0) {
      return Refuse(std::string("cannot open the file: ") + std::strerror(errno), reason);
    }
    if (flock(file->lock, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      ConsoleError("%s: waiting for another program to finish with the file",
                   DisplayName(shown).c_str());
      flock(file->lock, LOCK_EX);
    }
    // A file system without locks leaves the check before the rename.
    struct stat locked;
    struct stat now;
    if (fstat(file->lock, &locked) == 0 && lstat(file->path.c_str(), &now) == 0 &&
        SameFile(locked, now)) {
      file->info = locked;
      return CheckKind(locked, reason);
    }
    close(file->lock);
    file->lock = -1;
  }
}

}  // namespace

ReplacedFile::~ReplacedFile() {
  if (lock >= 0) close(lock);
}

bool OpenReplacedFile(const std::string& path, ReplacedFile* file, std::string* reason) {
  if (!FollowLink(path, &file->path, reason) || !LockFile(file, path, reason)) return false;
  // Root may write anything; a file that no one may write is still read-only.
  if (file->exists && ((file->info.st_mode & 0222) == 0 ||
                       faccessat(AT_FDCWD, file->path.c_str(), W_OK, AT_EACCESS) != 0)) {
    return Refuse("it is read-only", reason);
  }
  return true;
}

bool ReplacedFileUnchanged(const ReplacedFile& file, std::string* reason) {
  struct stat now;
  const bool exists = lstat(file.path.c_str(), &now) == 0;
  if (exists == file.exists &&
      (!exists || (SameFile(now, file.info) && now.st_size == file.info.st_size &&
                   now.st_mtim.tv_sec == file.info.st_mtim.tv_sec &&
                   now.st_mtim.tv_nsec == file.info.st_mtim.tv_nsec))) {
    return true;
  }
  return Refuse("another program replaced or changed it meanwhile; nothing was written", reason);
}

void KeepOwnership(const ReplacedFile& file, int fd) {
  if (!file.exists) return;
  // The group alone where the owner cannot be given (as sed -i does); the
  // permissions after, as a change of owner clears set-user-ID.
  if (fchown(fd, file.info.st_uid, file.info.st_gid) != 0)
    fchown(fd, static_cast<uid_t>(-1), file.info.st_gid);
  fchmod(fd, file.info.st_mode & 07777);
}

}  // namespace unpak
