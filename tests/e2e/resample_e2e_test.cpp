// PCM targets at another sample rate, sample width or channel count: the
// cap gives the exact length, and the audio lines up with the original.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/entry_expectation.h"
#include "tests/support/expected_wave.h"
#include "tests/support/file_io.h"
#include "tests/support/pcm_compare.h"
#include "tests/support/peer_decoders.h"
#include "tests/support/run_program.h"
#include "tests/support/signal_measure.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_output.h"

namespace {

const EncodedClip& StereoClip() {
  static const EncodedClip clip = MakeEncodedClip(2, 44100, 44100 * 2, 7, 128);
  return clip;
}

const EncodedClip& MonoClip() {
  static const EncodedClip clip = MakeEncodedClip(1, 22050, 22050 * 2, 11, 64);
  return clip;
}

struct ConvertedEntry {
  MusicEntry music;
  int rate = 0;
  size_t frames = 0;  // the clip's length at the target's rate
};

// A PCM entry whose cap is the clip's length in the target's layout.
ConvertedEntry MakeEntry(const EncodedClip& clip, int channels, int rate, int bits) {
  const std::string path = "c" + std::to_string(channels) + "_r" + std::to_string(rate) + "_b" +
                           std::to_string(bits) + "_from" + std::to_string(clip.rate) + ".wav";
  ConvertedEntry entry{PlainMusicEntry(path, clip, channels, bits), rate,
                       clip.samples.size() / clip.channels * rate / clip.rate};
  PayloadParts parts;
  parts.decodedLength = static_cast<uint32_t>(entry.frames * TargetBlockAlign(entry.music));
  SetPayloadParts(&entry.music, parts);
  return entry;
}

// Samples of any width on the 16-bit scale.
std::vector<double> SixteenBitScale(const std::vector<int32_t>& values, int bits) {
  const double scale = bits == 8 ? 256.0 : bits == 24 ? 1.0 / 256 : bits == 32 ? 1.0 / 65536 : 1.0;
  std::vector<double> scaled(values.size());
  for (size_t i = 0; i < values.size(); ++i) scaled[i] = values[i] * scale;
  return scaled;
}

std::vector<double> EveryNth(const std::vector<double>& values, int count, int first) {
  std::vector<double> picked;
  for (size_t i = static_cast<size_t>(first); i < values.size(); i += count)
    picked.push_back(values[i]);
  return picked;
}

TEST(Resample, PcmTargetsOfOtherLayoutsHaveTheCappedLengthAndLineUp) {
  TempDir dir;
  // Rate pairs whose scaled codec delay is not near half a sample, so that
  // the best whole-sample lag is 0 without doubt.
  const std::vector<ConvertedEntry> entries{
      MakeEntry(StereoClip(), 1, 48000, 16), MakeEntry(StereoClip(), 2, 32000, 24),
      MakeEntry(StereoClip(), 2, 11025, 32), MakeEntry(StereoClip(), 2, 24000, 8),
      MakeEntry(StereoClip(), 2, 44100, 24), MakeEntry(MonoClip(), 2, 44100, 16),
      MakeEntry(MonoClip(), 1, 8000, 8),     MakeEntry(MonoClip(), 1, 16000, 24),
      MakeEntry(MonoClip(), 1, 22050, 32),
  };
  std::vector<PakEntrySource> sources;
  for (const ConvertedEntry& entry : entries) {
    sources.push_back(
        {entry.music.path,
         MakePcmFormat(static_cast<uint16_t>(entry.music.channels),
                       static_cast<uint32_t>(entry.rate), static_cast<uint16_t>(entry.music.bits)),
         entry.music.payload});
  }
  ASSERT_TRUE(WriteBytes(dir.path / "test.pak", BuildPak(sources, 1 << 20)));
  const ProgramResult result = RunUnpak({"test.pak"}, dir.path);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err, "");

  const bool haveSox = FindOnPath("sox").has_value();
  for (const ConvertedEntry& entry : entries) {
    const MusicEntry& music = entry.music;
    const EncodedClip& clip = *music.clip;
    SCOPED_TRACE(music.path);
    const std::filesystem::path file = LocalPath(dir.path, music.path);
    std::string problem;
    const std::optional<std::vector<uint8_t>> audio = WaveAudio(
        ReadBytes(file), PcmFmtBytes(music.channels, entry.rate, music.bits), {}, {}, &problem);
    ASSERT_TRUE(audio) << problem;
    // The MP3 stream holds more than the clip: the cap decides the length.
    EXPECT_EQ(audio->size(), entry.frames * TargetBlockAlign(music));
    if (haveSox) {
      const std::optional<SoxFileInfo> info = SoxInfo(file);
      ASSERT_TRUE(info);
      EXPECT_EQ(info->channels, music.channels);
      EXPECT_EQ(info->rate, entry.rate);
      EXPECT_EQ(info->frames, static_cast<long long>(entry.frames));
      EXPECT_EQ(info->precision, music.bits);
    }
    const std::vector<int32_t> values = PcmSampleValues(*audio, music.bits);

    if (entry.rate == clip.rate) {
      // Only the width changes: the decoded 16-bit values, shifted up.
      const MusicEntry plain = PlainMusicEntry(music.path, clip, clip.channels, 16);
      const ExpectedOutput decoded = ExpectOutput(plain);
      const std::vector<int16_t> expected =
          SamplesFromBytes(decoded.file, decoded.dataOffset, decoded.dataLength);
      ASSERT_EQ(values.size(), expected.size());
      size_t mismatches = 0;
      for (size_t i = 0; i < values.size(); ++i) {
        if (values[i] != expected[i] * (1 << (music.bits - 16))) ++mismatches;
      }
      EXPECT_EQ(mismatches, 0u);
    }

    // The codec delay is cut at the target's rate: the audio lines up with
    // the original resampled independently.
    const std::vector<uint8_t> original16 =
        PcmBytes(clip.samples, clip.channels, music.channels, 16);
    const std::vector<int16_t> reference = ResampleReference(
        SamplesFromBytes(original16, 0, original16.size()), music.channels, clip.rate, entry.rate);
    const std::vector<double> actual = SixteenBitScale(values, music.bits);
    const size_t window = std::min<size_t>(16384, entry.frames);
    const int maxLag = kLameCodecDelay * entry.rate / clip.rate + 64;
    for (int channel = 0; channel < music.channels; ++channel) {
      std::vector<double> a = Channel(reference, music.channels, channel);
      std::vector<double> b = EveryNth(actual, music.channels, channel);
      a.resize(window);
      b.resize(window);
      double peak = 0;
      EXPECT_EQ(BestLag(a, b, maxLag, &peak), 0) << "channel " << channel;
      EXPECT_GT(peak, 0.9) << "channel " << channel;
    }
  }
}

}  // namespace
