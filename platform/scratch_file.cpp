#include "platform/scratch_file.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/interrupt_cleanup.h"

int CreateScratchFile(const std::string& directory, std::string* reason) {
  int fd = open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  // File systems without unnamed files: a unique name, removed at once,
  // with signals held off so that no interrupt comes in between.
  std::string name = directory + "/.unpak-scratch-XXXXXX";
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  int error = EINTR;
  if (BeginTemporaryFile()) {
    fd = mkostemp(name.data(), O_CLOEXEC);
    error = errno;
    if (fd >= 0) unlink(name.c_str());
  }
  EndTemporaryFile();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (fd < 0) {
    *reason = "cannot create a temporary file in " + directory + ": " + std::strerror(error);
  }
  return fd;
}
