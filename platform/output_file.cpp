#include "platform/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/interrupt_cleanup.h"

namespace {

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

}  // namespace

void PendingOutputDiscarder::operator()(PendingOutput* output) const {
  unlink(output->temporaryPath.c_str());
  UnregisterTemporaryFile(output->temporaryPath);
  delete output;
}

PendingOutputPtr CreatePendingOutput(const std::string& finalPath, int* fd, std::string* reason) {
  std::string name = DirectoryOf(finalPath) + "/.unpak-XXXXXX";
  // An interrupt between creating the file and registering it would leave
  // the file behind: signals wait until both are done.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &previous);
  *fd = mkostemp(name.data(), O_CLOEXEC);
  const int error = errno;
  if (*fd >= 0) RegisterTemporaryFile(name);
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (*fd < 0) {
    *reason =
        "cannot create the output file in " + DirectoryOf(finalPath) + ": " + std::strerror(error);
    return nullptr;
  }
  PendingOutputPtr output(new PendingOutput{finalPath, name});
  fchmod(*fd, NewFileMode());
  return output;
}

bool CommitPendingOutput(PendingOutputPtr output, std::string* reason) {
  if (std::rename(output->temporaryPath.c_str(), output->finalPath.c_str()) != 0) {
    *reason = "cannot move the finished file into place: " + std::string(std::strerror(errno));
    return false;  // the discarder removes the temporary file
  }
  UnregisterTemporaryFile(output->temporaryPath);
  delete output.release();
  return true;
}
