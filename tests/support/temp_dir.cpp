#include "tests/support/temp_dir.h"

#include <stdlib.h>

#include <string>
#include <system_error>

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "unpak-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) {
    path = pattern;
  }
}

TempDir::~TempDir() {
  if (path.empty()) return;
  std::error_code ignored;
  // Read-only files would survive a removal only if their folder were
  // read-only too; make every folder writable first.
  for (const auto& item : std::filesystem::recursive_directory_iterator(path, ignored)) {
    if (item.is_directory(ignored)) {
      std::filesystem::permissions(item.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(path, ignored);
}
