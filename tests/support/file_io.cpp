#include "tests/support/file_io.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

std::vector<std::string> ListTree(const std::filesystem::path& root) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& item : std::filesystem::recursive_directory_iterator(root, ignored)) {
    std::string name = item.path().lexically_relative(root).string();
    if (item.is_directory(ignored)) name += '/';
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}
