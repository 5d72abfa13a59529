#pragma once

// The archive's byte layout: a 16-byte header, an entry table of 34-byte
// records, a name table of NUL-terminated paths and the entry payloads. All
// integers are little-endian and records are packed.

#include <cstddef>
#include <cstdint>

namespace unpak {

constexpr size_t kPakHeaderSize = 16;
constexpr size_t kPakEntrySize = 34;
constexpr size_t kTargetFormatSize = 22;
constexpr uint16_t kTargetFormatMaxExtra = kTargetFormatSize - 18;

struct PakHeader {
  uint32_t totalUnpackedSize = 0;
  uint32_t entryCount = 0;
  uint32_t entryTableOffset = 0;
  uint32_t nameTableOffset = 0;
};

struct PakEntry {
  uint32_t dataOffset = 0;
  uint32_t nameOffset = 0;
  uint32_t dataSize = 0;
  uint8_t targetFormat[kTargetFormatSize] = {};
};

}  // namespace unpak
