#pragma once

// An entry's output file decoded whole, as unpak writes it: in memory, or in
// an unnamed temporary file.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/entry_selection.h"
#include "platform/scratch_file.h"

namespace unpak {

struct DecodedEntry {
  uint64_t size = 0;
  std::vector<uint8_t> bytes;  // the file, when held in memory
  OpenFilePtr file;            // the file, when held on disk
};

// Decodes the entry at `index` into an unnamed temporary file. Null, with
// the reason, when it cannot, or when the archive (open as `archiveFd`) can
// no longer back it: it shrank or changed since it was opened, or reading
// it failed.
std::unique_ptr<DecodedEntry> DecodeArchiveEntry(const OpenedArchive& archive, int archiveFd,
                                                 uint32_t index, std::string* reason);

// The same file held in memory. False when reading it back fails.
bool MoveIntoMemory(DecodedEntry& decoded);

// Copies up to `size` bytes from `offset` on into `buffer`: the count
// copied (0 past the end), or -errno.
ssize_t ReadDecoded(const DecodedEntry& decoded, char* buffer, size_t size, uint64_t offset);

}  // namespace unpak
