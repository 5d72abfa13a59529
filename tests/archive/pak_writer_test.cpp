#include "archive/pak_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/pak_reader.h"
#include "platform/byte_order.h"

namespace {

std::string FourCCAt(const std::vector<uint8_t>& bytes, size_t at) {
  return std::string(reinterpret_cast<const char*>(bytes.data() + at), 4);
}

// The chunk ids of a RIFF file in order, stepping over pad bytes.
std::vector<std::string> ChunkIds(const std::vector<uint8_t>& riff) {
  std::vector<std::string> ids;
  size_t at = 12;
  while (at + 8 <= riff.size()) {
    ids.push_back(FourCCAt(riff, at));
    const uint32_t size = LoadLe32(riff.data() + at + 4);
    at += 8 + size + size % 2;
  }
  EXPECT_EQ(at, riff.size());
  return ids;
}

}  // namespace

TEST(PakWriter, ArchivesReadBackThroughTheReader) {
  const std::vector<uint8_t> pcm = MakePcmFormat(2, 44100, 16);
  std::vector<PakEntrySource> entries = {
      {"music\\theme.wav", pcm, {1, 2, 3}},
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
    ASSERT_TRUE(ResolvePakEntry(pak.data(), pak.size(), header, entry, &view, &reason))
        << reason;
    const PakEntrySource& source = entries[index];
    EXPECT_EQ(view.path, source.path);
    ASSERT_EQ(view.payloadSize, source.payload.size());
    EXPECT_EQ(0, std::memcmp(view.payload, source.payload.data(), view.payloadSize));
    // The target format is stored as given and padded with zeros to 22 bytes.
    std::vector<uint8_t> padded = source.targetFormat;
    padded.resize(kTargetFormatSize, 0);
    EXPECT_EQ(std::vector<uint8_t>(view.targetFormat, view.targetFormat + kTargetFormatSize),
              padded);
  }
  // The last payload ends the file.
  EXPECT_EQ(pak.back(), 5);
}

TEST(PakWriter, RiffFilesArePaddedAndPayloadsOrdered) {
  const std::vector<uint8_t> riff = BuildRiffWave({{"odd ", {1, 2, 3}}, {"even", {4, 5}}});
  ASSERT_EQ(riff.size(), 12u + 8 + 4 + 8 + 2);
  EXPECT_EQ(FourCCAt(riff, 0), "RIFF");
  EXPECT_EQ(LoadLe32(riff.data() + 4), riff.size() - 8);
  EXPECT_EQ(FourCCAt(riff, 8), "WAVE");
  EXPECT_EQ(LoadLe32(riff.data() + 16), 3u);  // the stated size leaves out the pad byte
  EXPECT_EQ(riff[23], 0);                     // pad byte
  EXPECT_EQ(FourCCAt(riff, 24), "even");

  PayloadParts parts;
  parts.sourceFormat = MakeMpegLayer3Format(1, 32000, 48000, 144, 1105);
  parts.dropped = {{"fact", {0, 1, 0, 0}}};
  parts.decodedLength = 0x01020304;
  parts.kept = {{"LIST", {'I', 'N', 'F', 'O'}}};
  parts.mp3 = {0xFF, 0xFB, 0x90};
  parts.tail = {{"cue ", {0, 0, 0, 0}}};
  const std::vector<uint8_t> payload = BuildEntryPayload(parts);
  EXPECT_EQ(ChunkIds(payload),
            (std::vector<std::string>{"fmt ", "fact", "skee", "LIST", "data", "cue "}));
  EXPECT_EQ(LoadLe32(payload.data() + 4), payload.size() - 8);
  // "fmt " carries the full 30-byte block; "skee" is 4 bytes of decodedLength.
  EXPECT_EQ(LoadLe32(payload.data() + 16), 30u);
  EXPECT_EQ(0, std::memcmp(payload.data() + 20, parts.sourceFormat.data(), 30));
  const size_t skee = 12 + 38 + 12;
  EXPECT_EQ(FourCCAt(payload, skee), "skee");
  EXPECT_EQ(LoadLe32(payload.data() + skee + 4), 4u);
  EXPECT_EQ(LoadLe32(payload.data() + skee + 8), 0x01020304u);
}

TEST(PakWriter, FormatBlocksHoldTheFieldsTheDecoderReads) {
  const FormatBlock mp3 = MakeMpegLayer3Format(2, 44100, 128000, 418, 1105);
  MpegLayer3Fields fields;
  ASSERT_TRUE(ReadMpegLayer3Fields(mp3.data(), mp3.size(), &fields));
  EXPECT_EQ(ReadWaveFormat(mp3.data()).nBlockAlign, 1);
  EXPECT_EQ(fields.nBlockSize, 418);
  EXPECT_EQ(fields.nCodecDelay, 1105);

  const FormatBlock pcm = MakePcmFormat(1, 22050, 8);
  ASSERT_EQ(pcm.size(), 18u);
  EXPECT_EQ(ReadWaveFormat(pcm.data()).nBlockAlign, 1);
  EXPECT_EQ(ReadWaveFormat(MakePcmFormat(2, 44100, 16).data()).nBlockAlign, 4);
}
