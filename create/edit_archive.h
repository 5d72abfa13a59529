#pragma once

// `pak delete` and `pak rename`: an archive rewritten without some entries,
// or with one renamed. Every other entry is carried over byte for byte, as
// `pak update` carries it, and the new archive is written under a temporary
// name and put in place only when complete.

#include <string>
#include <vector>

#include "create/update_archive.h"

namespace unpak {

struct DeleteRequest {
  std::string archive;
  std::string output;                 // empty: the archive itself
  std::vector<std::string> patterns;  // matched as `pak extract` matches them
};

struct RenameRequest {
  std::string archive;
  std::string output;   // empty: the archive itself
  std::string pattern;  // matching the one entry to rename
  std::string newName;  // slashes read as backslashes
};

// Removes the entries that match a pattern. A pattern that matches nothing
// is reported and nothing is written.
UpdateStatus DeleteEntries(const DeleteRequest& request);

// Renames the one entry that matches the pattern. Refused when the pattern
// matches no entry or several, or the new name is not one unpak writes, or
// names another entry (ASCII letter case aside).
UpdateStatus RenameEntry(const RenameRequest& request);

}  // namespace unpak
