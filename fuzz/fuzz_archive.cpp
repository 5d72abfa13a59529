// Fuzz target: the input is a whole archive, listed (as text and as JSON),
// tested, and unpacked into the private folder with two workers.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/unpack_archive.h"
#include "pak/commands.h"
#include "fuzz/fuzz_sandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The archive lives in memory under a path, as the programs read it.
  const int fd = memfd_create("fuzz-archive", MFD_CLOEXEC);
  if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size)) abort();
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  FuzzInSandbox([&] {
    ListArchive(path, false);
    ListArchive(path, true);
    UnpackOptions test;
    test.keepOutputs = false;
    test.reportDamage = true;
    UnpackArchive(path.c_str(), test);
    UnpackOptions unpack;
    unpack.workers = 2;
    UnpackArchive(path.c_str(), unpack);
  });
  close(fd);
  return 0;
}
