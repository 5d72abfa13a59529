#include "archive/pak_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/pak_reader.h"

TEST(PakWriter, ArchivesReadBackThroughTheReader) {
  const std::vector<PakEntrySource> entries = {
      {"music\\theme.wav", MakePcmFormat(2, 44100, 16), {1, 2, 3}},
      {"b.wav", {0x55, 0, 1, 0}, {9, 8, 7, 6, 5}},
  };
  const std::vector<uint8_t> pak = BuildPak(entries, 987654);
  PakHeader header;
  std::string reason;
  ASSERT_TRUE(ReadPakHeader(pak.data(), pak.size(), &header, &reason)) << reason;
  EXPECT_EQ(header.totalUnpackedSize, 987654u);
  ASSERT_EQ(header.entryCount, 2u);
  for (uint32_t index = 0; index < 2; ++index) {
    const PakEntry entry = ReadPakEntry(pak.data(), header, index);
    EntryView view;
    ASSERT_TRUE(ResolvePakEntry(pak.data(), pak.size(), header, entry, &view, &reason)) << reason;
    EXPECT_EQ(view.path, entries[index].path);
    const std::vector<uint8_t>& payload = entries[index].payload;
    EXPECT_EQ(std::vector<uint8_t>(view.payload, view.payload + view.payloadSize), payload);
    // The target format is stored as given and padded with zeros to 22 bytes.
    std::vector<uint8_t> padded = entries[index].targetFormat;
    padded.resize(kTargetFormatSize, 0);
    EXPECT_EQ(std::memcmp(view.targetFormat, padded.data(), kTargetFormatSize), 0);
  }
  EXPECT_EQ(pak.back(), 5) << "the last payload ends the file";
}
