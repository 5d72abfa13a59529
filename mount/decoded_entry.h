#pragma once

// An entry's output file decoded whole, as unpak writes it, in a file that
// lives in memory or in an unnamed temporary file.

#include <cstdint>
#include <memory>
#include <string>

#include "archive/entry_selection.h"
#include "platform/scratch_file.h"

namespace unpak {

struct DecodedEntry {
  uint64_t size = 0;
  OpenFilePtr file;
  bool inMemory = false;
};

// Decodes the entry at `index` into a file in memory, or an unnamed
// temporary file when not `inMemory`. Null, with
// the reason, when it cannot, or when the archive (open as `archiveFd`) can
// no longer back it: it shrank or changed since it was opened, or reading
// it failed.
std::unique_ptr<DecodedEntry> DecodeArchiveEntry(const OpenedArchive& archive, int archiveFd,
                                                 uint32_t index, bool inMemory,
                                                 std::string* reason);

}  // namespace unpak
