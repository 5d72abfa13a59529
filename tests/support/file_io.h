#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace unpak {

// The whole file; empty when it cannot be read.
std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
// Creates or replaces the file; false on failure.
bool WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Everything under `root`, as sorted relative paths; folders end in '/'.
std::vector<std::string> ListTree(const std::filesystem::path& root);

}  // namespace unpak
