// Entries whose target is not 16-bit PCM at the source's layout: decoded to
// 16-bit audio at the source's rate and channels, converted, then encoded.
// Encoded outputs are checked with sox; resampled PCM against libsoxr.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "tests/e2e/entry_expectation.h"
#include "tests/support/audio_reference.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_bytes.h"

namespace unpak {

namespace {

// An entry of the clip with an encoded target: format tag, channels, rate,
// block size, bits, and samples per block (more than one: cbSize 2 holding
// that count).
MusicEntry Encoded(const std::string& path, const EncodedClip& clip, uint16_t tag,
                   uint16_t channels, uint32_t rate, uint16_t blockAlign, uint16_t bits,
                   uint16_t perBlock) {
  MusicEntry entry = PlainMusicEntry(path, clip, clip.channels, 16);
  entry.target = MakeFormatBlock({tag, channels, rate, rate * blockAlign / perBlock, blockAlign,
                                  bits, uint16_t(perBlock > 1 ? 2 : 0)});
  if (perBlock > 1) StoreLe16(entry.target.data() + 18, perBlock);
  return entry;
}

TEST(Encode, NonPcmTargetsDecodeInSoxToTheDecodedAudio) {
  if (std::system("command -v sox >/dev/null") != 0) GTEST_SKIP() << "sox is not installed";
  TempDir dir;
  // A user's own temp.wav, which the scratch audio must not touch.
  ASSERT_TRUE(WriteBytes(dir.path / "temp.wav", Text("mine")));

  const struct {
    MusicEntry entry;
    double minSnr;  // measured: IMA 37 to 41 dB, G.711 37.3 and 37.6 dB, GSM 15.4 dB; or exact
  } cases[] = {
      {WithParts(Encoded("ima.wav", StereoClip(), 0x11, 2, 44100, 2048, 4, 2041), 88200 * 4,
                 {{"LIST", Text("INFO")}}, {{"cue ", Le32(0)}}),
       30},
      // Stereo 44.1 kHz to mono 22.05 kHz, then encoded.
      {Encoded("halved.wav", StereoClip(), 0x11, 1, 22050, 512, 4, 1017), 30},
      {Encoded("mulaw.wav", StereoClip(), 7, 2, 44100, 2, 8, 1), 35},
      {Encoded("alaw.wav", MonoClip(), 6, 1, 22050, 1, 8, 1), 35},
      // 22.05 kHz to the telephone rate that GSM is made for.
      {Encoded("gsm.wav", MonoClip(), 0x31, 1, 8000, 65, 0, 320), 12},
      // The 16-bit values over 32768, exactly: sox gives them back unchanged.
      {Encoded("float.wav", StereoClip(), 3, 2, 44100, 8, 32, 1), INFINITY},
      // No audio at all (a cap of 0): an empty "data" chunk in a complete file.
      {WithParts(Encoded("empty.wav", MonoClip(), 0x31, 1, 8000, 65, 0, 320), 0), INFINITY},
  };
  std::vector<MusicEntry> entries;
  for (const auto& item : cases) entries.push_back(item.entry);
  std::string transcript;
  const ProgramResult result = UnpackEntries(dir.path, entries, &transcript);
  ASSERT_EQ(result, (ProgramResult{0, transcript, ""}));
  EXPECT_EQ(ReadBytes(dir.path / "temp.wav"), Text("mine"));

  for (const auto& [entry, minSnr] : cases) {
    SCOPED_TRACE(entry.path);
    const WaveFormat format = ReadWaveFormat(entry.target.data());
    const size_t perBlock = format.cbSize == 2 ? LoadLe16(entry.target.data() + 18) : 1;
    // What the encoder receives: the decoded 16-bit audio in the target's layout.
    std::vector<int16_t> reference = Samples16(
        PcmBytes(Samples16(ExpectOutput(entry).audio), entry.channels, format.nChannels, 16));
    const int from = entry.clip->rate, to = static_cast<int>(format.nSamplesPerSec);
    if (from != to) reference = ResampleReference(reference, format.nChannels, from, to);
    const size_t blocks = (reference.size() / format.nChannels + perBlock - 1) / perBlock;
    // The file around the audio is exact; the audio fills whole blocks.
    const std::vector<uint8_t> audio = OutputAudio(dir.path, entry);
    EXPECT_EQ(audio.size(), blocks * format.nBlockAlign);
    if (audio.empty()) continue;
    // The file's audio decoded by sox to 16-bit samples.
    const ProgramResult sox =
        RunTool({"sox", "-D", entry.path, "-t", "raw", "-e", "signed", "-b", "16", "-"}, dir.path);
    const std::vector<int16_t> decoded = Samples16({sox.out.begin(), sox.out.end()});
    EXPECT_EQ(decoded.size(), blocks * perBlock * format.nChannels);
    EXPECT_GE(SnrDb(reference, decoded), minSnr);
    std::vector<uint8_t> floats;  // the 16-bit values over 32768, exactly
    for (int16_t s : reference) AppendBytes(&floats, Le32(std::bit_cast<uint32_t>(s / 32768.f)));
    EXPECT_TRUE(format.wFormatTag != 3 || audio == floats);
  }
}

TEST(Resample, PcmTargetsAtOtherRatesHaveTheCappedLengthAndLineUp) {
  TempDir dir;
  // Rate pairs whose scaled codec delay is not near half a sample, so that
  // the best whole-sample lag is 0 without doubt.
  const std::vector<MusicEntry> entries{PlainMusicEntry("48000.wav", StereoClip(), 1, 16, 48000),
                                        PlainMusicEntry("16000.wav", MonoClip(), 2, 24, 16000)};
  // One mark a pass of the decode loop, as at the MP3's own rate.
  std::string transcript;
  const ProgramResult result = UnpackEntries(dir.path, entries, &transcript);
  EXPECT_EQ(result, (ProgramResult{0, transcript, ""}));

  for (const MusicEntry& entry : entries) {
    SCOPED_TRACE(entry.path);
    const EncodedClip& clip = *entry.clip;
    const int rate = static_cast<int>(ReadWaveFormat(entry.target.data()).nSamplesPerSec);
    // The MP3 stream holds more than the clip: the cap decides the length.
    const std::vector<uint8_t> audio = OutputAudio(dir.path, entry);
    EXPECT_EQ(audio.size(), *entry.cap);
    // The codec delay is cut at the target's rate: the audio lines up with
    // the original resampled independently.
    const std::vector<int16_t> reference =
        ResampleReference(Samples16(PcmBytes(clip.samples, clip.channels, entry.channels, 16)),
                          entry.channels, clip.rate, rate);
    ExpectAligned(reference, PcmValues(audio, entry.bits), entry.bits, entry.channels,
                  kLameCodecDelay * rate / clip.rate + 64);
  }
}

}  // namespace

}  // namespace unpak
