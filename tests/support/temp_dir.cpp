#include "tests/support/temp_dir.h"

#include <stdlib.h>

#include <string>
#include <system_error>

namespace unpak {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "unpak-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

}  // namespace unpak
