// Runs a fuzz target's harness over saved inputs without libFuzzer, each
// argument a file, in order. Exits nonzero when one cannot be read; a faulty
// input crashes.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  LLVMFuzzerInitialize(&argc, &argv);
  for (int i = 1; i < argc; ++i) {
    // Exactly the input's size, so reads past its end are caught as they are
    // under libFuzzer.
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(argv[i], error);
    std::vector<uint8_t> bytes(error ? 0 : size);
    std::ifstream in(argv[i], std::ios::binary);
    if (error || !in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()))) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 2;
    }
    std::fprintf(stderr, "input %s (%zu bytes)\n", argv[i], bytes.size());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::fprintf(stderr, "%d inputs ran\n", argc - 1);
  return 0;
}
