// Runs a fuzz target's harness over saved inputs without libFuzzer: each
// argument is a file, or a folder whose files are run in name order. Exits
// nonzero when an argument cannot be read; a faulty input crashes.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

bool ReadWhole(const fs::path& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool Inputs(const fs::path& argument, std::vector<fs::path>* files) {
  std::error_code error;
  if (!fs::is_directory(argument, error)) {
    files->push_back(argument);
    return fs::is_regular_file(argument, error);
  }
  std::vector<fs::path> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(argument, error)) {
    if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
      found.push_back(entry.path());
    }
  }
  std::sort(found.begin(), found.end());
  files->insert(files->end(), found.begin(), found.end());
  return !error;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    if (!Inputs(argv[i], &files)) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 2;
    }
  }
  LLVMFuzzerInitialize(&argc, &argv);
  for (const fs::path& file : files) {
    std::vector<uint8_t> bytes;
    if (!ReadWhole(file, &bytes)) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 2;
    }
    std::fprintf(stderr, "input %s (%zu bytes)\n", file.c_str(), bytes.size());
    // A copy holds exactly the input, so reads past its end are caught as
    // they are under libFuzzer.
    const std::vector<uint8_t> exact(bytes);
    LLVMFuzzerTestOneInput(exact.data(), exact.size());
  }
  std::fprintf(stderr, "%zu inputs ran\n", files.size());
  return 0;
}
