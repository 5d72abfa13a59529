#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/interrupt_cleanup.h"

namespace unpak {

namespace {

struct ProtectedFile {
  bool set = false;
  dev_t device = 0;
  ino_t inode = 0;
};
ProtectedFile protectedFile;

// The permissions an ordinary new file would get (mkstemp makes them 0600).
mode_t NewFileMode() {
  static const mode_t mode = [] {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
  }();
  return mode;
}

// An unnamed file gets its name through its /proc/self/fd link; without
// /proc mounted, pending files are named from the start.
bool UnnamedFilesCanBeNamed() {
  static const bool can = access("/proc/self/fd", X_OK) == 0;
  return can;
}

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool IsProtected(int directory, const std::string& name) {
  struct stat info;
  return protectedFile.set && fstatat(directory, name.c_str(), &info, 0) == 0 &&
         info.st_dev == protectedFile.device && info.st_ino == protectedFile.inode;
}

// A name for the moment between an unnamed file's link and its rename,
// unique within the process and unlikely elsewhere.
std::string PassingName() {
  static std::atomic<unsigned> counter{0};
  char name[48];
  std::snprintf(name, sizeof name, ".unpak-%x-%x", static_cast<unsigned>(getpid()), counter++);
  return name;
}

// Links the unnamed file into `directory` under a passing name and renames
// it to `name`; signals wait meanwhile, so that only a kill in between can
// leave the passing name. 0, or the error.
int LinkInto(const PendingOutput& output, int directory, const std::string& name) {
  int error = EINTR;
  RunUninterrupted([&] {
    std::string passing;
    do {
      passing = PassingName();
      error = linkat(AT_FDCWD, DescriptorPath(output.fd).c_str(), directory, passing.c_str(),
                     AT_SYMLINK_FOLLOW) == 0
                  ? 0
                  : errno;
    } while (error == EEXIST);
    if (error != 0) return;
    if (renameat(directory, passing.c_str(), directory, name.c_str()) != 0) {
      error = errno;
      unlinkat(directory, passing.c_str(), 0);
    }
  });
  return error;
}

// 0, or the error that kept the file from its place.
int NameInto(const PendingOutput& output, int directory, const std::string& name) {
  if (output.temporaryPath.empty()) return LinkInto(output, directory, name);
  return renameat(AT_FDCWD, output.temporaryPath.c_str(), directory, name.c_str()) == 0 ? 0 : errno;
}

// A new pending file in `directory`, which messages name `shownDirectory`.
PendingOutputPtr CreatePendingOutputShown(const std::string& directory,
                                          const std::string& shownDirectory, int* fd,
                                          std::string* reason) {
  // O_TMPFILE applies the umask to the mode as open does.
  int own =
      UnnamedFilesCanBeNamed() ? open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666) : -1;
  std::string name;
  if (own < 0) {  // a file system without unnamed files
    name = directory + "/.unpak-XXXXXX";
    int error = 0;
    own = CreateTemporaryFile(name, true, &error);
    if (own < 0) {
      *reason = "cannot create the output file in " + shownDirectory + ": " + std::strerror(error);
      return nullptr;
    }
    fchmod(own, NewFileMode());
  }
  PendingOutputPtr output(new PendingOutput{own, name});
  *fd = fcntl(own, F_DUPFD_CLOEXEC, 0);
  if (*fd < 0) {
    *reason = "cannot create the output file in " + shownDirectory + ": " + std::strerror(errno);
    return nullptr;
  }
  return output;
}

// Copies a finished file into a new pending file in `directory`, for a
// final path on another file system than the one it was written on.
PendingOutputPtr CopyToDirectory(const PendingOutput& from, const std::string& directory,
                                 const std::string& shownDirectory, std::string* reason) {
  int to = -1;
  PendingOutputPtr copy = CreatePendingOutputShown(directory, shownDirectory, &to, reason);
  if (!copy) return nullptr;
  // sendfile copies between any two file systems; copy_file_range refuses
  // most such pairs (EXDEV), tmpfs to tmpfs among them.
  bool ok = true;
  off_t offset = 0;
  for (ssize_t copied = 1; ok && copied > 0;) {
    copied = sendfile(to, from.fd, &offset, 1 << 30);
    ok = copied >= 0;
  }
  const int error = errno;
  if (close(to) != 0 && ok) ok = false;
  if (!ok) {
    *reason = "cannot copy the finished file to " + shownDirectory + ": " + std::strerror(error);
    return nullptr;
  }
  return copy;
}

// Moves the finished file to `name` in `directory` (a descriptor, or
// AT_FDCWD), whose path is `directoryPath`; `finalPath` names it in
// messages. `durable` syncs the file before and the folder after.
bool PlaceIn(PendingOutputPtr output, int directory, const std::string& directoryPath,
             const std::string& name, const std::string& finalPath, bool durable,
             std::string* reason) {
  if (IsProtected(directory, name)) {
    *reason = "cannot create the output file " + finalPath + ": it is the archive being read";
    return false;
  }
  if (durable && fsync(output->fd) != 0) {
    *reason = "cannot write the output file " + finalPath + " to disk: " + std::strerror(errno);
    return false;
  }
  int error = NameInto(*output, directory, name);
  if (error == EXDEV) {
    // Messages name the folder as the user knows it, not by a descriptor's path.
    output = CopyToDirectory(*output, directoryPath, DirectoryOf(finalPath), reason);
    if (!output) return false;
    if (durable && fsync(output->fd) != 0) {
      *reason = "cannot write the output file " + finalPath + " to disk: " + std::strerror(errno);
      return false;
    }
    error = NameInto(*output, directory, name);
  }
  if (error != 0) {
    *reason = "cannot create the output file " + finalPath + ": " + std::strerror(error);
    return false;  // the discarder removes the pending file
  }
  if (durable) {
    // The new name is on disk once its folder is; a folder that cannot be
    // synced (some file systems refuse) leaves that to the system.
    const int folder = open(directoryPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
      fsync(folder);
      close(folder);
    }
  }
  UnregisterTemporaryFile(output->temporaryPath);
  output->temporaryPath.clear();  // named now: the discarder only closes it
  return true;
}

}  // namespace

void PendingOutputDiscarder::operator()(PendingOutput* output) const {
  close(output->fd);
  if (!output->temporaryPath.empty()) {
    unlink(output->temporaryPath.c_str());
    UnregisterTemporaryFile(output->temporaryPath);
  }
  delete output;
}

PendingOutputPtr CreatePendingOutput(const std::string& directory, int* fd, std::string* reason) {
  return CreatePendingOutputShown(directory, directory, fd, reason);
}

void ProtectFromOutputs(dev_t device, ino_t inode) { protectedFile = {true, device, inode}; }

bool PlacePendingOutput(PendingOutputPtr output, const std::string& finalPath,
                        std::string* reason) {
  return PlaceIn(std::move(output), AT_FDCWD, DirectoryOf(finalPath), finalPath, finalPath, false,
                 reason);
}

bool PlacePendingOutputDurably(PendingOutputPtr output, const std::string& finalPath,
                               std::string* reason) {
  return PlaceIn(std::move(output), AT_FDCWD, DirectoryOf(finalPath), finalPath, finalPath, true,
                 reason);
}

bool PlacePendingOutputIn(PendingOutputPtr output, int directory, const std::string& name,
                          const std::string& finalPath, std::string* reason) {
  // The descriptor's own path reaches the directory it holds, whatever its name is now.
  return PlaceIn(std::move(output), directory, DescriptorPath(directory), name, finalPath, false,
                 reason);
}

}  // namespace unpak
