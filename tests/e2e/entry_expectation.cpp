#include "tests/e2e/entry_expectation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "tests/support/audio_reference.h"
#include "tests/support/file_io.h"
#include "tests/support/wave_bytes.h"

const EncodedClip& StereoClip() {
  static const EncodedClip clip = MakeEncodedClip(2, 44100, 44100 * 2, 7, 128);
  return clip;
}

const EncodedClip& MonoClip() {
  static const EncodedClip clip = MakeEncodedClip(1, 22050, 22050 * 2, 11, 64);
  return clip;
}

MusicEntry WithParts(MusicEntry entry, uint32_t cap, const std::vector<RiffChunk>& kept,
                     const std::vector<RiffChunk>& tail, const std::vector<RiffChunk>& dropped) {
  entry.payload =
      BuildEntryPayload({ClipSourceFormat(*entry.clip), dropped, cap, kept, entry.mp3, tail});
  entry.cap = cap;
  entry.between.clear();
  entry.after.clear();
  for (const RiffChunk& chunk : kept) AppendBytes(&entry.between, ChunkBytes(chunk.id, chunk.data));
  for (const RiffChunk& chunk : tail) AppendBytes(&entry.after, ChunkBytes(chunk.id, chunk.data));
  return entry;
}

MusicEntry PlainMusicEntry(const std::string& path, const EncodedClip& clip, int channels,
                           int bits) {
  MusicEntry entry;
  entry.path = path;
  entry.clip = &clip;
  entry.channels = channels;
  entry.bits = bits;
  entry.target = MakePcmFormat(static_cast<uint16_t>(channels), static_cast<uint32_t>(clip.rate),
                               static_cast<uint16_t>(bits));
  entry.mp3 = clip.mp3.bytes;
  return WithParts(entry, static_cast<uint32_t>(clip.samples.size() / clip.channels) *
                              static_cast<uint32_t>(channels * bits / 8));
}

PakEntrySource PakSource(const MusicEntry& entry) {
  return {entry.path, entry.target, entry.payload};
}

ExpectedOutput ExpectOutput(const MusicEntry& entry) {
  ExpectedOutput expected;
  size_t skip = size_t{kLameCodecDelay} * entry.channels * entry.bits / 8;
  const size_t chunk = size_t{entry.clip->mp3.maxFrameSize} * 32;
  for (const std::vector<int16_t>& pass : DecodeInPasses(entry.mp3, chunk)) {
    if (pass.empty()) continue;
    ++expected.marks;
    const std::vector<uint8_t> bytes =
        PcmBytes(pass, entry.clip->channels, entry.channels, entry.bits);
    const int64_t cut = static_cast<int64_t>(std::min(skip, bytes.size()));
    skip -= static_cast<size_t>(cut);
    const int64_t decoded = static_cast<int64_t>(bytes.size()) - cut;
    const int64_t room = entry.cap ? int64_t{*entry.cap} - int64_t(expected.audio.size()) : decoded;
    // Past the cap: cut to it, and 2 bytes more for an 8-bit target and an odd cap.
    const int64_t length =
        decoded <= room ? decoded : room - (entry.bits == 8 && *entry.cap % 2 == 1 ? 2 : 0);
    if (length > 0) {
      expected.audio.insert(expected.audio.end(), bytes.begin() + cut, bytes.begin() + cut + length);
    }
    if (length < decoded) break;
  }
  return expected;
}

std::string ExpectedLine(const MusicEntry& entry) {
  return "Decompressing " + entry.path + " : " + std::string(ExpectOutput(entry).marks, '#') + "\n";
}

ProgramResult UnpackEntries(const std::filesystem::path& dir, const std::vector<MusicEntry>& entries,
                            std::string* transcript) {
  std::vector<PakEntrySource> sources;
  for (const MusicEntry& entry : entries) {
    sources.push_back(PakSource(entry));
    *transcript += ExpectedLine(entry);
  }
  EXPECT_TRUE(WriteBytes(dir / "test.pak", BuildPak(sources, 1 << 20)));
  return RunUnpak({"test.pak"}, dir);
}

std::filesystem::path LocalPath(const std::filesystem::path& root, const std::string& stored) {
  std::string local = stored;
  std::replace(local.begin(), local.end(), '\\', '/');
  return root / local;
}

std::vector<uint8_t> OutputAudio(const std::filesystem::path& root, const MusicEntry& entry) {
  std::string problem;
  const auto audio = WaveAudio(ReadBytes(LocalPath(root, entry.path)), FmtChunkData(entry.target),
                               entry.between, entry.after, &problem);
  EXPECT_TRUE(audio) << entry.path << ": " << problem;
  return audio.value_or(std::vector<uint8_t>{});
}

void ExpectAligned(const std::vector<int16_t>& reference, const std::vector<int32_t>& actual,
                   int bits, int channels, int maxLag) {
  const size_t n = std::min<size_t>({16384, reference.size() / channels, actual.size() / channels});
  ASSERT_GT(n, 4u * maxLag) << "too little audio to line up";
  for (int c = 0; c < channels; ++c) {
    int best = 0;
    double bestValue = -2;
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
      double dot = 0, aa = 0, bb = 0;
      for (size_t i = maxLag; i + maxLag < n; ++i) {
        const double a = reference[i * channels + c];
        const double b = std::ldexp(actual[(i + lag) * channels + c], 16 - bits);
        dot += a * b;
        aa += a * a;
        bb += b * b;
      }
      const double value = dot / std::sqrt(aa * bb + 1e-9);
      if (value > bestValue) {
        bestValue = value;
        best = lag;
      }
    }
    EXPECT_EQ(best, 0) << "channel " << c;
    EXPECT_GT(bestValue, 0.9) << "channel " << c;
  }
}

void CheckOutput(const std::filesystem::path& root, const MusicEntry& entry) {
  SCOPED_TRACE("entry " + entry.path);
  const std::vector<int32_t> expected = PcmValues(ExpectOutput(entry).audio, entry.bits);
  const std::vector<int32_t> actual = PcmValues(OutputAudio(root, entry), entry.bits);
  ASSERT_EQ(actual.size(), expected.size());
  int maxDiff = 0;
  for (size_t i = 0; i < actual.size(); ++i) {
    maxDiff = std::max(maxDiff, std::abs(actual[i] - expected[i]));
  }
  EXPECT_LE(maxDiff, entry.clip->channels == 2 && entry.channels == 1 ? 1 : 0);
  if (actual.size() / entry.channels < 8192) return;  // too short to line up
  ExpectAligned(Samples16(PcmBytes(entry.clip->samples, entry.clip->channels, entry.channels, 16)),
                actual, entry.bits, entry.channels, 1200);
}
