#pragma once

// Reads an archive held in memory. Nothing in the archive is trusted: every
// field is checked against the archive's size before it is used.

#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/pak_format.h"

namespace unpak {

// What the entry rebuild needs of one entry; pointers into the archive.
struct EntryView {
  const char* path = nullptr;             // NUL-terminated, inside the archive
  const uint8_t* targetFormat = nullptr;  // kTargetFormatSize bytes
  const uint8_t* payload = nullptr;
  uint32_t payloadSize = 0;
};

// False, with the reason, when the header or the entry table does not fit.
bool ReadPakHeader(const uint8_t* archive, size_t archiveSize, PakHeader* header,
                   std::string* reason);

// The record at `index` (below header.entryCount; the table is known to fit).
PakEntry ReadPakEntry(const uint8_t* archive, const PakHeader& header, uint32_t index);

// False, with the reason, when the entry's name is not NUL-terminated inside
// the archive, its payload lies outside it, or its targetFormat's cbSize is
// more than the record holds. view->path is set as soon as the name is known
// to be sound, so a failure can still name the entry. view->targetFormat
// points into `entry`, which must outlive the view.
bool ResolvePakEntry(const uint8_t* archive, size_t archiveSize, const PakHeader& header,
                     const PakEntry& entry, EntryView* view, std::string* reason);

}  // namespace unpak
