#include "archive/pak_reader.h"

#include <cstring>

#include "platform/byte_order.h"

namespace unpak {

namespace {

// Offset of the cbSize field inside a wave format block.
constexpr size_t kCbSizeOffset = 16;

// True when [offset, offset + length) lies inside an archive of `size` bytes.
// The arithmetic is 64-bit, so 32-bit offsets and lengths cannot wrap.
bool FitsInside(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

}  // namespace

bool ReadPakHeader(const uint8_t* archive, size_t archiveSize, PakHeader* header,
                   std::string* reason) {
  if (archiveSize < kPakHeaderSize) {
    *reason = "too short for an archive header (" + std::to_string(archiveSize) + " bytes)";
    return false;
  }
  PakHeader read;
  read.totalUnpackedSize = LoadLe32(archive);
  read.entryCount = LoadLe32(archive + 4);
  read.entryTableOffset = LoadLe32(archive + 8);
  read.nameTableOffset = LoadLe32(archive + 12);

  const uint64_t tableSize = uint64_t{read.entryCount} * kPakEntrySize;
  if (read.entryCount != 0 && !FitsInside(read.entryTableOffset, tableSize, archiveSize)) {
    *reason = "entry table (" + std::to_string(read.entryCount) + " entries of " +
              std::to_string(kPakEntrySize) + " bytes at offset " +
              std::to_string(read.entryTableOffset) + ") runs past the end of the file (" +
              std::to_string(archiveSize) + " bytes)";
    return false;
  }
  *header = read;
  return true;
}

PakEntry ReadPakEntry(const uint8_t* archive, const PakHeader& header, uint32_t index) {
  const uint8_t* record = archive + header.entryTableOffset + uint64_t{index} * kPakEntrySize;
  PakEntry entry;
  entry.dataOffset = LoadLe32(record);
  entry.nameOffset = LoadLe32(record + 4);
  entry.dataSize = LoadLe32(record + 8);
  std::memcpy(entry.targetFormat, record + 12, kTargetFormatSize);
  return entry;
}

bool ResolvePakEntry(const uint8_t* archive, size_t archiveSize, const PakHeader& header,
                     const PakEntry& entry, EntryView* view, std::string* reason) {
  const uint64_t nameStart = uint64_t{header.nameTableOffset} + entry.nameOffset;
  if (nameStart >= archiveSize) {
    *reason = "name at offset " + std::to_string(nameStart) + " lies past the end of the file (" +
              std::to_string(archiveSize) + " bytes)";
    return false;
  }
  const char* name = reinterpret_cast<const char*>(archive + nameStart);
  if (std::memchr(name, '\0', archiveSize - nameStart) == nullptr) {
    *reason = "name at offset " + std::to_string(nameStart) + " is not terminated inside the file";
    return false;
  }
  view->path = name;
  if (!FitsInside(entry.dataOffset, entry.dataSize, archiveSize)) {
    *reason = "payload (" + std::to_string(entry.dataSize) + " bytes at offset " +
              std::to_string(entry.dataOffset) + ") runs past the end of the file (" +
              std::to_string(archiveSize) + " bytes)";
    return false;
  }
  const uint16_t cbSize = LoadLe16(entry.targetFormat + kCbSizeOffset);
  if (cbSize > kTargetFormatMaxExtra) {
    *reason =
        "target format's cbSize " + std::to_string(cbSize) + " does not fit the 22-byte field";
    return false;
  }
  view->targetFormat = entry.targetFormat;
  view->payload = archive + entry.dataOffset;
  view->payloadSize = entry.dataSize;
  return true;
}

}  // namespace unpak
