// Fuzz target: the input is a whole archive, unpacked into the private folder.

#include <cstddef>
#include <cstdint>

#include "app/unpack_archive.h"
#include "tests/fuzz/fuzz_sandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInSandbox([&] { UnpackArchiveBytes(data, size, "fuzz input"); });
  return 0;
}
