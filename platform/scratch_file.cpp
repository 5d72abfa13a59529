#include "platform/scratch_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

int CreateScratchFile(const std::string& directory, std::string* reason) {
  int fd = open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  // File systems without unnamed files: a unique name, removed at once.
  std::string name = directory + "/.unpak-scratch-XXXXXX";
  fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    *reason = "cannot create a temporary file in " + directory + ": " + std::strerror(errno);
    return -1;
  }
  unlink(name.c_str());
  return fd;
}
