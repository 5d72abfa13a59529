#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

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

// 0, or the error that kept the file from its place.
int RenameInto(const PendingOutput& output, int directory, const std::string& name) {
  return renameat(AT_FDCWD, output.temporaryPath.c_str(), directory, name.c_str()) == 0 ? 0 : errno;
}

// A new pending file in `directory`, which messages name `shownDirectory`.
PendingOutputPtr CreatePendingOutputShown(const std::string& directory,
                                          const std::string& shownDirectory, int* fd,
                                          std::string* reason) {
  std::string name = directory + "/.unpak-XXXXXX";
  int error = 0;
  *fd = CreateTemporaryFile(name, true, &error);
  if (*fd < 0) {
    *reason = "cannot create the output file in " + shownDirectory + ": " + std::strerror(error);
    return nullptr;
  }
  PendingOutputPtr output(new PendingOutput{name});
  fchmod(*fd, NewFileMode());
  return output;
}

// Copies a finished file into a new pending file in `directory`, for a
// final path on another file system than the one it was written on.
PendingOutputPtr CopyToDirectory(const PendingOutput& from, const std::string& directory,
                                 const std::string& shownDirectory, std::string* reason) {
  int to = -1;
  PendingOutputPtr copy = CreatePendingOutputShown(directory, shownDirectory, &to, reason);
  if (!copy) return nullptr;
  const int in = open(from.temporaryPath.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = in >= 0;
  // sendfile copies between any two file systems; copy_file_range refuses
  // most such pairs (EXDEV), tmpfs to tmpfs among them.
  for (ssize_t copied = 1; ok && copied > 0;) {
    copied = sendfile(to, in, nullptr, 1 << 30);
    ok = copied >= 0;
  }
  const int error = errno;
  if (in >= 0) close(in);
  if (close(to) != 0 && ok) ok = false;
  if (!ok) {
    *reason = "cannot copy the finished file to " + shownDirectory + ": " + std::strerror(error);
    return nullptr;
  }
  return copy;
}

}  // namespace

void PendingOutputDiscarder::operator()(PendingOutput* output) const {
  unlink(output->temporaryPath.c_str());
  UnregisterTemporaryFile(output->temporaryPath);
  delete output;
}

PendingOutputPtr CreatePendingOutput(const std::string& directory, int* fd, std::string* reason) {
  return CreatePendingOutputShown(directory, directory, fd, reason);
}

void ProtectFromOutputs(dev_t device, ino_t inode) { protectedFile = {true, device, inode}; }

// Moves the finished file to `name` in `directory` (a descriptor, or
// AT_FDCWD), whose path is `directoryPath`; `finalPath` names it in messages.
bool PlaceIn(PendingOutputPtr output, int directory, const std::string& directoryPath,
             const std::string& name, const std::string& finalPath, std::string* reason) {
  if (IsProtected(directory, name)) {
    *reason = "cannot create the output file " + finalPath + ": it is the archive being read";
    return false;
  }
  int error = RenameInto(*output, directory, name);
  if (error == EXDEV) {
    // Messages name the folder as the user knows it, not by a descriptor's path.
    output = CopyToDirectory(*output, directoryPath, DirectoryOf(finalPath), reason);
    if (!output) return false;
    error = RenameInto(*output, directory, name);
  }
  if (error != 0) {
    *reason = "cannot create the output file " + finalPath + ": " + std::strerror(error);
    return false;  // the discarder removes the temporary file
  }
  UnregisterTemporaryFile(output->temporaryPath);
  delete output.release();
  return true;
}

bool PlacePendingOutput(PendingOutputPtr output, const std::string& finalPath,
                        std::string* reason) {
  return PlaceIn(std::move(output), AT_FDCWD, DirectoryOf(finalPath), finalPath, finalPath, reason);
}

bool PlacePendingOutputIn(PendingOutputPtr output, int directory, const std::string& name,
                          const std::string& finalPath, std::string* reason) {
  // The descriptor's own path reaches the directory it holds, whatever its name is now.
  return PlaceIn(std::move(output), directory, "/proc/self/fd/" + std::to_string(directory), name,
                 finalPath, reason);
}

}  // namespace unpak
