#include "tests/e2e/entry_expectation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>

#include "platform/byte_order.h"
#include "tests/support/audio_reference.h"
#include "tests/support/file_io.h"
#include "tests/support/wave_bytes.h"

namespace unpak {

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
  entry.between = entry.after = {};
  for (const RiffChunk& chunk : kept) AppendBytes(&entry.between, ChunkBytes(chunk.id, chunk.data));
  for (const RiffChunk& chunk : tail) AppendBytes(&entry.after, ChunkBytes(chunk.id, chunk.data));
  return entry;
}

MusicEntry PlainMusicEntry(const std::string& path, const EncodedClip& clip, int channels, int bits,
                           int rate) {
  rate = rate == 0 ? clip.rate : rate;
  const MusicEntry entry{.path = path,
                         .clip = &clip,
                         .channels = channels,
                         .bits = bits,
                         .target = MakePcmFormat(channels, rate, bits),
                         .mp3 = clip.mp3};
  return WithParts(entry, static_cast<uint32_t>(clip.samples.size() / clip.channels * rate /
                                                clip.rate * channels * bits / 8));
}

PakEntrySource PakSource(const MusicEntry& entry) {
  return {entry.path, entry.target, entry.payload};
}

ExpectedOutput ExpectOutput(const MusicEntry& entry) {
  ExpectedOutput expected;
  const size_t skip = size_t{kLameCodecDelay} * entry.channels * entry.bits / 8;
  const size_t cap = entry.cap.value_or(SIZE_MAX - skip);
  std::vector<uint8_t> decoded;  // every pass's output until one goes past the cap
  for (const std::vector<int16_t>& pass :
       DecodeInPasses(entry.mp3, size_t{entry.clip->blockSize} * 32)) {
    if (pass.empty() || decoded.size() > skip + cap) continue;
    ++expected.marks;
    AppendBytes(&decoded, PcmBytes(pass, entry.clip->channels, entry.channels, entry.bits));
  }
  // Past the cap: cut to it, and 2 bytes more for an 8-bit target and an odd cap.
  const size_t end = decoded.size() <= skip + cap
                         ? decoded.size()
                         : skip + cap - (entry.bits == 8 && cap % 2 ? 2 : 0);
  if (end > skip) expected.audio.assign(decoded.begin() + skip, decoded.begin() + end);
  return expected;
}

std::string ExpectedLine(const MusicEntry& entry) {
  return "Decompressing " + entry.path + " : " + std::string(ExpectOutput(entry).marks, '#') + "\n";
}

ProgramResult UnpackEntries(const std::filesystem::path& dir,
                            const std::vector<MusicEntry>& entries, std::string* transcript) {
  std::vector<PakEntrySource> sources;
  for (const MusicEntry& entry : entries) {
    sources.push_back(PakSource(entry));
    *transcript += ExpectedLine(entry);
  }
  EXPECT_TRUE(WriteBytes(dir / "test.pak", BuildPak(sources, 1 << 20)));
  return RunUnpak({"test.pak"}, dir);
}

std::vector<uint8_t> OutputAudio(const std::filesystem::path& root, const MusicEntry& entry) {
  std::string local = entry.path;
  std::replace(local.begin(), local.end(), '\\', '/');
  const std::vector<uint8_t> file = ReadBytes(root / local);
  const WaveFormat format = ReadWaveFormat(entry.target.data());
  const size_t fmtSize = format.wFormatTag == kWaveFormatPcm ? 16 : 18 + format.cbSize;
  const std::vector<uint8_t> fmt(entry.target.begin(), entry.target.begin() + fmtSize);
  const size_t at = 12 + 8 + fmt.size() + fmt.size() % 2 + entry.between.size() + 8;
  const size_t start = std::min(at, file.size());
  const size_t size = start < at ? 0 : std::min<size_t>(LoadLe32(&file[at - 4]), file.size() - at);
  const std::vector<uint8_t> audio(file.begin() + start, file.begin() + start + size);
  std::vector<uint8_t> form = Text("WAVE");
  AppendBytes(&form, ChunkBytes("fmt ", fmt));
  AppendBytes(&form, entry.between);
  AppendBytes(&form, ChunkBytes("data", audio));
  AppendBytes(&form, entry.after);
  const bool exact = file == ChunkBytes("RIFF", form);
  EXPECT_TRUE(exact) << entry.path << ": the bytes around the audio are not as expected";
  return exact ? audio : std::vector<uint8_t>{};
}

void ExpectAligned(const std::vector<int16_t>& reference, const std::vector<int32_t>& actual,
                   int bits, int channels, int maxLag) {
  const size_t n = std::min<size_t>({16384, reference.size() / channels, actual.size() / channels});
  std::vector<double> scores;  // at lags -maxLag to maxLag
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    double dot = 0, aa = 0, bb = 0;
    for (size_t i = maxLag; i + maxLag < n; ++i) {
      const double a = reference[i * channels];
      const double b = std::ldexp(actual[(i + lag) * channels], 16 - bits);
      dot += a * b;
      aa += a * a;
      bb += b * b;
    }
    scores.push_back(dot / std::sqrt(aa * bb + 1e-9));
  }
  const auto best = std::max_element(scores.begin(), scores.end());
  EXPECT_EQ(best - scores.begin() - maxLag, 0);
  EXPECT_GT(*best, 0.9);
}

void CheckOutput(const std::filesystem::path& root, const MusicEntry& entry) {
  SCOPED_TRACE("entry " + entry.path);
  const std::vector<int32_t> expected = PcmValues(ExpectOutput(entry).audio, entry.bits);
  const std::vector<int32_t> actual = PcmValues(OutputAudio(root, entry), entry.bits);
  ASSERT_EQ(actual.size(), expected.size());
  const int maxDiff = std::transform_reduce(
      actual.begin(), actual.end(), expected.begin(), 0,
      [](int a, int b) { return std::max(a, b); }, [](int a, int b) { return std::abs(a - b); });
  EXPECT_LE(maxDiff, entry.clip->channels == 2 && entry.channels == 1 ? 1 : 0);
  ExpectAligned(Samples16(PcmBytes(entry.clip->samples, entry.clip->channels, entry.channels, 16)),
                actual, entry.bits, entry.channels, 1200);
}

}  // namespace unpak
