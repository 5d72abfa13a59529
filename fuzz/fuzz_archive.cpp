// Fuzz target: the input is a whole archive, listed (as text and as JSON),
// tested, and unpacked into the private folder with two workers.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_sandbox.h"
#include "pak/commands.h"
#include "run/unpack_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace unpak;
  FuzzArchiveInSandbox(data, size, [](const std::string& path) {
    ListArchive(path, false, {});
    ListArchive(path, true, {"*"});
    UnpackOptions test;
    test.outputTarget = OutputTarget::kNowhere;
    test.showVerdicts = true;
    UnpackArchive(path.c_str(), test);
    UnpackOptions unpack;
    unpack.workers = 2;
    UnpackArchive(path.c_str(), unpack);
  });
  return 0;
}
