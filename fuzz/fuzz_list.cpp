// Fuzz target: the input is a whole archive, listed as `pak list` lists it,
// as text and as JSON. Reading the tables and checking every entry without
// decoding is cheap, so this target reaches far more inputs than the
// archive target, which also decodes.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pak/commands.h"
#include "fuzz/fuzz_sandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("fuzz-list", MFD_CLOEXEC);
  if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size)) abort();
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  FuzzInSandbox([&] {
    ListArchive(path, false);
    ListArchive(path, true);
  });
  close(fd);
  return 0;
}
