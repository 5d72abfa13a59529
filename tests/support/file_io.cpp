#include "tests/support/file_io.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

namespace unpak {

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return static_cast<bool>(out.flush());
}

std::vector<std::string> ListTree(const std::filesystem::path& root) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& item : std::filesystem::recursive_directory_iterator(root, ignored)) {
    names.push_back(item.path().lexically_relative(root).string() +
                    (item.is_directory(ignored) ? "/" : ""));
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace unpak
