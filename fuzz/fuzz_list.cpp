// Fuzz target: the input is a whole archive, listed as `pak list` lists it,
// as text and as JSON. Reading the tables and checking every entry without
// decoding is cheap, so this target reaches far more inputs than the
// archive target, which also decodes.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_sandbox.h"
#include "pak/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace unpak;
  FuzzArchiveInSandbox(data, size, [](const std::string& path) {
    ListArchive(path, false, {});
    ListArchive(path, true, {});
  });
  return 0;
}
