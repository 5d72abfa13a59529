#include "tests/e2e/entry_expectation.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/byte_order.h"
#include "tests/support/decode_model.h"
#include "tests/support/expected_wave.h"
#include "tests/support/file_io.h"
#include "tests/support/mpeg_frames.h"
#include "tests/support/pcm_compare.h"
#include "tests/support/reference_decode.h"
#include "tests/support/riff_layout.h"

uint32_t TargetBlockAlign(const MusicEntry& entry) {
  return static_cast<uint32_t>(entry.channels * entry.bits / 8);
}

void SetPayloadParts(MusicEntry* entry, PayloadParts parts) {
  parts.sourceFormat = ClipSourceFormat(*entry->clip);
  parts.mp3 = entry->mp3;
  entry->payload = BuildEntryPayload(parts);
  entry->cap = parts.decodedLength;
  entry->between.clear();
  for (const RiffChunk& chunk : parts.kept) AppendBytes(&entry->between, ChunkBytes(chunk.id, chunk.data));
  entry->after.clear();
  for (const RiffChunk& chunk : parts.tail) AppendBytes(&entry->after, ChunkBytes(chunk.id, chunk.data));
}

MusicEntry PlainMusicEntry(const std::string& path, const EncodedClip& clip, int channels,
                           int bits) {
  MusicEntry entry;
  entry.path = path;
  entry.clip = &clip;
  entry.channels = channels;
  entry.bits = bits;
  entry.mp3 = clip.mp3.bytes;
  PayloadParts parts;
  parts.decodedLength =
      static_cast<uint32_t>(clip.samples.size() / clip.channels) * TargetBlockAlign(entry);
  SetPayloadParts(&entry, parts);
  return entry;
}

PakEntrySource PakSource(const MusicEntry& entry) {
  return {entry.path,
          MakePcmFormat(static_cast<uint16_t>(entry.channels), static_cast<uint32_t>(entry.clip->rate),
                        static_cast<uint16_t>(entry.bits)),
          entry.payload};
}

ExpectedOutput ExpectOutput(const MusicEntry& entry) {
  const DecodedPcm decoded = DecodeMp3Reference(entry.mp3);
  const std::vector<uint8_t> audio =
      PcmBytes(decoded.samples, decoded.channels, entry.channels, entry.bits);
  const std::vector<MpegFrame> frames = ScanMpegFrames(entry.mp3);

  DecodeModelInput model;
  for (const MpegFrame& frame : frames) model.frameEnds.push_back(frame.offset + frame.length);
  model.compressedSize = static_cast<uint32_t>(entry.mp3.size());
  model.chunkSize = uint32_t{entry.clip->mp3.maxFrameSize} * 32;
  const int samplesPerFrame = frames.empty() ? 0 : frames[0].header.samplesPerFrame;
  model.bytesPerFrame = static_cast<uint32_t>(samplesPerFrame) * TargetBlockAlign(entry);
  model.skipBytes = uint32_t{kLameCodecDelay} * TargetBlockAlign(entry);
  model.cap = entry.cap;
  model.eightBit = entry.bits == 8;
  const DecodeExpectation expectation = ModelDecode(model);

  ExpectedOutput expected;
  expected.marks = expectation.marks;
  expected.dataLength = expectation.dataLength;
  std::vector<uint8_t> data;
  if (expectation.dataLength > 0) {
    const auto first = audio.begin() + std::min<size_t>(model.skipBytes, audio.size());
    data.assign(first, first + std::min<size_t>(expectation.dataLength, audio.end() - first));
  }
  expected.file = ExpectedWave(PcmFmtBytes(entry.channels, entry.clip->rate, entry.bits),
                               entry.between, data, entry.after);
  expected.dataOffset = 12 + 8 + 16 + entry.between.size() + 8;
  return expected;
}

std::string ExpectedLine(const MusicEntry& entry) {
  return "Decompressing " + entry.path + " : " + std::string(ExpectOutput(entry).marks, '#') + "\n";
}

std::filesystem::path LocalPath(const std::filesystem::path& root, const std::string& stored) {
  std::string local = stored;
  std::replace(local.begin(), local.end(), '\\', '/');
  return root / local;
}

namespace {

// Samples of 8- or 16-bit PCM as 16-bit values.
std::vector<int16_t> AsSixteenBit(const std::vector<uint8_t>& bytes, size_t offset, size_t count,
                                  int bits) {
  if (bits == 16) return SamplesFromBytes(bytes, offset, count);
  std::vector<int16_t> samples(count);
  for (size_t i = 0; i < count; ++i) samples[i] = static_cast<int16_t>((bytes[offset + i] - 128) * 256);
  return samples;
}

}  // namespace

void CheckOutput(const std::filesystem::path& root, const MusicEntry& entry) {
  SCOPED_TRACE("entry " + entry.path);
  const ExpectedOutput expected = ExpectOutput(entry);
  const std::vector<uint8_t> actual = ReadBytes(LocalPath(root, entry.path));
  ASSERT_FALSE(actual.empty()) << "no output file";

  const RiffLayout layout = ParseRiff(actual);
  ASSERT_TRUE(layout.valid) << layout.problem;
  // Raw bytes may stand between chunks (the rest of a long "skee"), so the
  // "data" chunk is looked for where it must be rather than by a walk.
  const size_t dataStart = expected.dataOffset;
  ASSERT_GE(actual.size(), dataStart);
  EXPECT_EQ(std::string(actual.begin() + dataStart - 8, actual.begin() + dataStart - 4), "data")
      << "chunks: " << ChunkIds(layout);
  EXPECT_EQ(LoadLe32(actual.data() + dataStart - 4), expected.dataLength);
  ASSERT_EQ(actual.size(), expected.file.size());

  // Everything but the audio must match exactly.
  const size_t dataEnd = dataStart + expected.dataLength;
  EXPECT_TRUE(std::equal(actual.begin(), actual.begin() + dataStart, expected.file.begin()))
      << "bytes before the audio differ";
  EXPECT_TRUE(std::equal(actual.begin() + dataEnd, actual.end(), expected.file.begin() + dataEnd))
      << "bytes after the audio differ";

  const std::vector<uint8_t> actualAudio(actual.begin() + dataStart, actual.begin() + dataEnd);
  const std::vector<uint8_t> expectedAudio(expected.file.begin() + dataStart,
                                           expected.file.begin() + dataEnd);
  const bool mixed = entry.clip->channels == 2 && entry.channels == 1;
  const DiffStats diff = entry.bits == 8
                             ? CompareBytes(expectedAudio, actualAudio)
                             : CompareSamples(SamplesFromBytes(expectedAudio, 0, expectedAudio.size()),
                                              SamplesFromBytes(actualAudio, 0, actualAudio.size()));
  EXPECT_LE(diff.maxAbs, mixed ? 1 : 0) << "first large difference at sample " << diff.firstOverOne;

  // The audio must line up with what was encoded: the codec delay is gone.
  const size_t samples = entry.bits == 8 ? actualAudio.size() : actualAudio.size() / 2;
  const std::vector<int16_t> decoded = AsSixteenBit(actualAudio, 0, samples, entry.bits);
  const std::vector<uint8_t> original16 =
      PcmBytes(entry.clip->samples, entry.clip->channels, entry.channels, 16);
  const std::vector<int16_t> original = SamplesFromBytes(original16, 0, original16.size());
  const int window = 16384;
  if (decoded.size() / entry.channels < static_cast<size_t>(window)) return;
  for (int channel = 0; channel < entry.channels; ++channel) {
    std::vector<double> a = Channel(original, entry.channels, channel);
    std::vector<double> b = Channel(decoded, entry.channels, channel);
    a.resize(window);
    b.resize(window);
    double peak = 0;
    EXPECT_EQ(BestLag(a, b, 1200, &peak), 0) << "channel " << channel;
    EXPECT_GT(peak, 0.9) << "channel " << channel;
  }
}

void PatchLe32(std::vector<uint8_t>* bytes, size_t offset, uint32_t value) {
  StoreLe32(bytes->data() + offset, value);
}

void PatchLe16(std::vector<uint8_t>* bytes, size_t offset, uint16_t value) {
  StoreLe16(bytes->data() + offset, value);
}

size_t EntryRecordOffset(const std::vector<uint8_t>& pak, uint32_t index) {
  return LoadLe32(pak.data() + 8) + size_t{index} * 34;
}
