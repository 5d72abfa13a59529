#include "archive/pak_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// Archives are built by hand here, independently of the writer, so that a
// writer fault cannot hide a reader fault.
void Put16(std::vector<uint8_t>* bytes, size_t at, uint16_t value) {
  if (bytes->size() < at + 2) bytes->resize(at + 2);
  (*bytes)[at] = static_cast<uint8_t>(value);
  (*bytes)[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>* bytes, size_t at, uint32_t value) {
  Put16(bytes, at, static_cast<uint16_t>(value));
  Put16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}

void PutText(std::vector<uint8_t>* bytes, size_t at, const std::string& text) {
  if (bytes->size() < at + text.size()) bytes->resize(at + text.size());
  std::memcpy(bytes->data() + at, text.data(), text.size());
}

std::vector<uint8_t> Header(uint32_t total, uint32_t count, uint32_t table, uint32_t names) {
  std::vector<uint8_t> bytes;
  Put32(&bytes, 0, total);
  Put32(&bytes, 4, count);
  Put32(&bytes, 8, table);
  Put32(&bytes, 12, names);
  return bytes;
}

bool HeaderOk(const std::vector<uint8_t>& bytes, PakHeader* header, std::string* reason) {
  return ReadPakHeader(bytes.data(), bytes.size(), header, reason);
}

// One entry record at offset 16, its name table at 50 holding "a.wav".
std::vector<uint8_t> OneEntryArchive() {
  std::vector<uint8_t> bytes = Header(0, 1, 16, 50);
  PutText(&bytes, 50, std::string("a.wav") + '\0');
  Put32(&bytes, 16, 50);  // dataOffset: the name itself, any bytes do
  Put32(&bytes, 20, 0);   // nameOffset
  Put32(&bytes, 24, 6);   // dataSize
  Put16(&bytes, 28, 1);   // wFormatTag: PCM, cbSize 0
  return bytes;
}

bool Resolve(const std::vector<uint8_t>& bytes, const PakEntry& entry, EntryView* view,
             std::string* reason) {
  PakHeader header;
  if (!HeaderOk(bytes, &header, reason)) return false;
  return ResolvePakEntry(bytes.data(), bytes.size(), header, entry, view, reason);
}

}  // namespace

TEST(PakReader, HeaderIsCheckedAgainstTheArchiveSize) {
  PakHeader header;
  std::string reason;

  std::vector<uint8_t> shortFile(10);
  EXPECT_FALSE(HeaderOk(shortFile, &header, &reason));
  EXPECT_EQ(reason, "too short for an archive header (10 bytes)");

  // No entries: valid whatever the table offset, even far outside the file.
  std::vector<uint8_t> empty = Header(123456, 0, 0xFFFFFFFF, 0xFFFFFFFF);
  ASSERT_TRUE(HeaderOk(empty, &header, &reason));
  EXPECT_EQ(header.totalUnpackedSize, 123456u);
  EXPECT_EQ(header.entryCount, 0u);
  EXPECT_EQ(header.entryTableOffset, 0xFFFFFFFFu);

  // A table of one record cut one byte short, then complete.
  std::vector<uint8_t> oneEntry = Header(0, 1, 16, 50);
  oneEntry.resize(16 + 34 - 1);
  EXPECT_FALSE(HeaderOk(oneEntry, &header, &reason));
  EXPECT_EQ(reason,
            "entry table (1 entries of 34 bytes at offset 16) runs past the end of the "
            "file (49 bytes)");
  oneEntry.resize(16 + 34);
  EXPECT_TRUE(HeaderOk(oneEntry, &header, &reason));

  // Counts and offsets whose 32-bit products or sums would wrap around.
  std::vector<uint8_t> huge = Header(0, 4000000000u, 16, 0);
  huge.resize(4096);
  EXPECT_FALSE(HeaderOk(huge, &header, &reason));
  // 126322568 * 34 is 2^32 + 16: it wraps to a table of 16 bytes.
  std::vector<uint8_t> wrappingCount = Header(0, 126322568u, 16, 0);
  wrappingCount.resize(64);
  EXPECT_FALSE(HeaderOk(wrappingCount, &header, &reason));
  std::vector<uint8_t> wrappingOffset = Header(0, 1, 0xFFFFFFF0u, 0);
  wrappingOffset.resize(64);
  EXPECT_FALSE(HeaderOk(wrappingOffset, &header, &reason));
}

TEST(PakReader, RecordsAre34BytesApartAndReadUnaligned) {
  // Table at 16: record 0's u32 fields are 4-aligned, record 1's lie 2 bytes off.
  std::vector<uint8_t> bytes = Header(0, 2, 16, 84);
  bytes.resize(16 + 2 * 34);
  const uint32_t fields[2][3] = {{0x11223344, 0x00000000, 0x55667788},
                                 {0xA1B2C3D4, 0x00000006, 0xE5F60718}};
  for (uint32_t index = 0; index < 2; ++index) {
    const size_t record = 16 + 34 * index;
    Put32(&bytes, record, fields[index][0]);
    Put32(&bytes, record + 4, fields[index][1]);
    Put32(&bytes, record + 8, fields[index][2]);
    for (size_t i = 0; i < kTargetFormatSize; ++i) {
      bytes[record + 12 + i] = static_cast<uint8_t>(index * 100 + i);
    }
  }
  PakHeader header;
  std::string reason;
  ASSERT_TRUE(HeaderOk(bytes, &header, &reason)) << reason;

  for (uint32_t index = 0; index < 2; ++index) {
    const PakEntry entry = ReadPakEntry(bytes.data(), header, index);
    EXPECT_EQ(entry.dataOffset, fields[index][0]);
    EXPECT_EQ(entry.nameOffset, fields[index][1]);
    EXPECT_EQ(entry.dataSize, fields[index][2]);
    for (size_t i = 0; i < kTargetFormatSize; ++i) {
      EXPECT_EQ(entry.targetFormat[i], index * 100 + i) << "record " << index << " byte " << i;
    }
  }
}

TEST(PakReader, ResolvesNamesPayloadsAndTargetFormat) {
  std::vector<uint8_t> bytes = OneEntryArchive();
  PakHeader header;
  std::string reason;
  ASSERT_TRUE(HeaderOk(bytes, &header, &reason));
  const PakEntry entry = ReadPakEntry(bytes.data(), header, 0);

  EntryView view;
  ASSERT_TRUE(ResolvePakEntry(bytes.data(), bytes.size(), header, entry, &view, &reason))
      << reason;
  EXPECT_STREQ(view.path, "a.wav");
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(view.path), bytes.data() + 50);
  EXPECT_EQ(view.payload, bytes.data() + 50);
  EXPECT_EQ(view.payloadSize, 6u);
  EXPECT_EQ(0, std::memcmp(view.targetFormat, bytes.data() + 28, kTargetFormatSize));

  // Two entries sharing one name offset resolve to the same path.
  PakEntry second = entry;
  second.dataSize = 1;
  EntryView secondView;
  ASSERT_TRUE(ResolvePakEntry(bytes.data(), bytes.size(), header, second, &secondView, &reason));
  EXPECT_EQ(secondView.path, view.path);

  // A zero-length payload is left for the entry rebuild to reject, even at the very end.
  PakEntry empty = entry;
  empty.dataOffset = static_cast<uint32_t>(bytes.size());
  empty.dataSize = 0;
  EXPECT_TRUE(ResolvePakEntry(bytes.data(), bytes.size(), header, empty, &view, &reason));

  // cbSize up to 4 fits the 22-byte field.
  PakEntry extra = entry;
  extra.targetFormat[16] = 4;
  EXPECT_TRUE(ResolvePakEntry(bytes.data(), bytes.size(), header, extra, &view, &reason));
}

TEST(PakReader, RejectsEntriesReachingOutsideTheArchive) {
  std::vector<uint8_t> bytes = OneEntryArchive();
  PakHeader header;
  std::string reason;
  ASSERT_TRUE(HeaderOk(bytes, &header, &reason));
  const PakEntry good = ReadPakEntry(bytes.data(), header, 0);
  EntryView view;

  // Name start past the end, including a 32-bit sum that would wrap back inside.
  PakEntry nameOutside = good;
  nameOutside.nameOffset = static_cast<uint32_t>(bytes.size() - 50);
  EXPECT_FALSE(Resolve(bytes, nameOutside, &view, &reason));
  PakHeader wrappingNames = header;
  wrappingNames.nameTableOffset = 0xFFFFFFF0u;
  PakEntry wrappingName = good;
  wrappingName.nameOffset = 0x10 + 50;
  EXPECT_FALSE(
      ResolvePakEntry(bytes.data(), bytes.size(), wrappingNames, wrappingName, &view, &reason));

  // A name that runs to the end of the file without a NUL.
  std::vector<uint8_t> unterminated = bytes;
  unterminated.pop_back();
  EXPECT_FALSE(Resolve(unterminated, good, &view, &reason));
  EXPECT_EQ(reason, "name at offset 50 is not terminated inside the file");

  // Payloads past the end, including offset + size wrapping in 32 bits.
  PakEntry longPayload = good;
  longPayload.dataSize = 7;
  EXPECT_FALSE(Resolve(bytes, longPayload, &view, &reason));
  PakEntry farPayload = good;
  farPayload.dataOffset = static_cast<uint32_t>(bytes.size() + 1);
  farPayload.dataSize = 0;
  EXPECT_FALSE(Resolve(bytes, farPayload, &view, &reason));
  PakEntry wrappingPayload = good;
  wrappingPayload.dataOffset = 0xFFFFFFFFu;
  wrappingPayload.dataSize = 2;
  EXPECT_FALSE(Resolve(bytes, wrappingPayload, &view, &reason));

  // cbSize 5 does not fit the record.
  PakEntry bigExtra = good;
  bigExtra.targetFormat[16] = 5;
  EXPECT_FALSE(Resolve(bytes, bigExtra, &view, &reason));
  EXPECT_EQ(reason, "target format's cbSize 5 does not fit the 22-byte field");
}
