// Fuzz target: the input is a whole archive, unpacked into the private folder.

#include <cstddef>
#include <cstdint>

#include "app/unpack_archive.h"
#include "tests/fuzz/fuzz_sandbox.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzSandboxInit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzSandboxEnter();
  UnpackArchiveBytes(data, size, "fuzz input");
  FuzzSandboxLeave();
  return 0;
}
