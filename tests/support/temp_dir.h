#pragma once

#include <filesystem>

namespace unpak {

// A private folder under the system's temporary directory, removed with all
// its contents when the object goes away.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::filesystem::path path;
};

}  // namespace unpak
