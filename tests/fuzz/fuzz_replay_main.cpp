// Runs a fuzz target's harness over saved inputs without libFuzzer: each
// argument is a file, or a folder whose files are run in name order. Exits
// nonzero when an argument cannot be read; a faulty input crashes.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    const size_t first = files.size();
    std::error_code error;
    if (!fs::is_directory(argv[i], error)) {
      files.push_back(argv[i]);
    } else {
      for (const fs::directory_entry& entry : fs::directory_iterator(argv[i], error)) {
        files.push_back(entry.path());
      }
    }
    if (error) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 2;
    }
    std::sort(files.begin() + first, files.end());
  }
  LLVMFuzzerInitialize(&argc, &argv);
  for (const fs::path& file : files) {
    // Exactly the input's size, so reads past its end are caught as they are
    // under libFuzzer.
    std::error_code error;
    const uintmax_t size = fs::file_size(file, error);
    std::vector<uint8_t> bytes(error ? 0 : size);
    std::ifstream in(file, std::ios::binary);
    if (error || !in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()))) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 2;
    }
    std::fprintf(stderr, "input %s (%zu bytes)\n", file.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::fprintf(stderr, "%zu inputs ran\n", files.size());
  return 0;
}
