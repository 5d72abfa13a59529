#include "platform/scratch_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/interrupt_cleanup.h"

namespace unpak {

int CreateScratchFile(const std::string& directory, std::string* reason) {
  int fd = open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  // File systems without unnamed files: a unique name, removed at once.
  std::string name = directory + "/.unpak-scratch-XXXXXX";
  int error = 0;
  fd = CreateTemporaryFile(name, false, &error);
  if (fd < 0) {
    *reason = "cannot create a temporary file in " + directory + ": " + std::strerror(error);
  }
  return fd;
}

int CreateMemoryFile(std::string* reason) {
  const int fd = memfd_create("unpak", MFD_CLOEXEC);
  if (fd < 0) *reason = std::string("cannot create a file in memory: ") + std::strerror(errno);
  return fd;
}

void OpenFileCloser::operator()(OpenFile* file) const {
  if (file->fd >= 0) close(file->fd);
  delete file;
}

}  // namespace unpak
