// Entries whose target is not PCM: decoded to 16-bit audio at the source's
// rate and channels, then encoded. The outputs are checked by sox and
// ffmpeg, by a classic IMA ADPCM decoder and against the decoded audio.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "tests/e2e/entry_expectation.h"
#include "tests/support/expected_wave.h"
#include "tests/support/file_io.h"
#include "tests/support/ima_adpcm_decode.h"
#include "tests/support/pcm_compare.h"
#include "tests/support/peer_decoders.h"
#include "tests/support/run_program.h"
#include "tests/support/signal_measure.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_output.h"

namespace {

constexpr uint16_t kImaAdpcm = 0x11;
constexpr uint16_t kMuLaw = 7;
constexpr uint16_t kALaw = 6;
constexpr uint16_t kIeeeFloat = 3;
constexpr uint16_t kGsm610 = 0x31;
constexpr uint16_t kMsAdpcm = 2;

const EncodedClip& StereoClip() {
  static const EncodedClip clip = MakeEncodedClip(2, 44100, 44100 * 2, 7, 128);
  return clip;
}

const EncodedClip& MonoClip() {
  static const EncodedClip clip = MakeEncodedClip(1, 22050, 22050 * 2, 11, 64);
  return clip;
}

// MPEG-2.5 at the telephone rate that GSM is made for.
const EncodedClip& NarrowClip() {
  static const EncodedClip clip = MakeEncodedClip(1, 8000, 8000 * 2, 5, 24);
  return clip;
}

FormatBlock Target(uint16_t tag, int channels, int rate, int blockAlign, int avgBytes, int bits,
                   int samplesPerBlock = -1) {
  WaveFormat format{tag,
                    static_cast<uint16_t>(channels),
                    static_cast<uint32_t>(rate),
                    static_cast<uint32_t>(avgBytes),
                    static_cast<uint16_t>(blockAlign),
                    static_cast<uint16_t>(bits),
                    static_cast<uint16_t>(samplesPerBlock < 0 ? 0 : 2)};
  FormatBlock block = MakeFormatBlock(format);
  if (samplesPerBlock >= 0) StoreLe16(block.data() + 18, static_cast<uint16_t>(samplesPerBlock));
  return block;
}

int ImaSamplesPerBlock(int channels, int blockAlign) {
  return (blockAlign - 4 * channels) * 8 / (4 * channels) + 1;
}

FormatBlock ImaFormat(int channels, int rate, int blockAlign) {
  const int perBlock = ImaSamplesPerBlock(channels, blockAlign);
  return Target(kImaAdpcm, channels, rate, blockAlign, rate * blockAlign / perBlock, 4, perBlock);
}

FormatBlock SampleFormat(uint16_t tag, int channels, int rate, int bytes) {
  return Target(tag, channels, rate, channels * bytes, rate * channels * bytes, bytes * 8);
}

FormatBlock GsmFormat(int channels, int rate) {
  return Target(kGsm610, channels, rate, 65 * channels, rate * 65 / 320, 0, 320);
}

struct EncodedEntry {
  MusicEntry music;  // the payload; as a PCM entry, the audio before encoding
  FormatBlock target;
};

EncodedEntry MakeEntry(const std::string& path, const EncodedClip& clip, FormatBlock target) {
  return {PlainMusicEntry(path, clip, clip.channels, 16), std::move(target)};
}

ProgramResult UnpackIn(const std::filesystem::path& dir,
                       const std::vector<PakEntrySource>& sources) {
  EXPECT_TRUE(WriteBytes(dir / "test.pak", BuildPak(sources, 1 << 20)));
  return RunUnpak({"test.pak"}, dir);
}

ProgramResult UnpackIn(const std::filesystem::path& dir, const std::vector<EncodedEntry>& entries) {
  std::vector<PakEntrySource> sources;
  for (const EncodedEntry& e : entries)
    sources.push_back({e.music.path, e.target, e.music.payload});
  return UnpackIn(dir, sources);
}

// The 16-bit audio the entry decodes to before it is encoded.
std::vector<int16_t> Intermediate(const MusicEntry& music) {
  const ExpectedOutput expected = ExpectOutput(music);
  return SamplesFromBytes(expected.file, expected.dataOffset, expected.dataLength);
}

// The output's encoded audio, once the file around it has been found exact.
std::vector<uint8_t> OutputAudio(const std::filesystem::path& dir, const EncodedEntry& entry) {
  std::string problem;
  FormatBlock fmt = entry.target;
  if (ReadWaveFormat(fmt.data()).wFormatTag == kWaveFormatPcm) fmt.resize(16);
  const auto audio = WaveAudio(ReadBytes(LocalPath(dir, entry.music.path)), fmt,
                               entry.music.between, entry.music.after, &problem);
  EXPECT_TRUE(audio) << entry.music.path << ": " << problem;
  return audio.value_or(std::vector<uint8_t>{});
}

void ExpectSoxInfo(const std::filesystem::path& file, int channels, int rate, long long frames,
                   const std::string& encoding) {
  const std::optional<SoxFileInfo> info = SoxInfo(file);
  ASSERT_TRUE(info) << "sox refuses " << file;
  EXPECT_EQ(info->channels, channels) << file;
  EXPECT_EQ(info->rate, rate) << file;
  EXPECT_EQ(info->frames, frames) << file;
  EXPECT_NE(info->encoding.find(encoding), std::string::npos) << file << ": " << info->encoding;
}

// The first `count` samples, or all when there are fewer.
std::vector<int16_t> Head(const std::vector<int16_t>& samples, size_t count) {
  return {samples.begin(), samples.begin() + std::min(count, samples.size())};
}

bool PeersMissing() { return !FindOnPath("sox") || !FindOnPath("ffmpeg"); }

// The console lines: the marks are those of decoding to the 16-bit audio.
std::string Transcript(const std::vector<EncodedEntry>& entries) {
  std::string text;
  for (const EncodedEntry& entry : entries) text += ExpectedLine(entry.music);
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(Encode, ImaAdpcmMatchesTheClassicDecoderInSoxAndFollowsTheAudio) {
  if (PeersMissing()) GTEST_SKIP() << "sox or ffmpeg is not installed";
  TempDir dir;
  EncodedEntry stereo = MakeEntry("ima\\stereo.wav", StereoClip(), ImaFormat(2, 44100, 2048));
  PayloadParts parts;
  parts.decodedLength = *stereo.music.cap;
  parts.kept = {{"LIST", {'I', 'N', 'F', 'O'}}};
  parts.tail = {{"cue ", Le32(0)}};
  SetPayloadParts(&stereo.music, parts);
  const EncodedEntry mono = MakeEntry("mono.wav", MonoClip(), ImaFormat(1, 22050, 512));
  // Stereo 44.1 kHz to mono 22.05 kHz: the decoded audio is converted, then
  // encoded.
  const EncodedEntry halved = MakeEntry("halved.wav", StereoClip(), ImaFormat(1, 22050, 512));

  const std::vector<EncodedEntry> entries{stereo, mono, halved};
  const ProgramResult result = UnpackIn(dir.path, entries);
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, Transcript(entries));

  const std::vector<uint8_t> mixed = PcmBytes(Intermediate(halved.music), 2, 1, 16);
  const std::vector<std::vector<int16_t>> references{
      Intermediate(stereo.music), Intermediate(mono.music),
      ResampleReference(SamplesFromBytes(mixed, 0, mixed.size()), 1, 44100, 22050)};
  ASSERT_EQ(references[2].size(), 44100u);
  for (size_t i = 0; i < references.size(); ++i) {
    const EncodedEntry& entry = entries[i];
    SCOPED_TRACE(entry.music.path);
    const WaveFormat format = ReadWaveFormat(entry.target.data());
    const int channels = format.nChannels;
    const size_t perBlock = static_cast<size_t>(ImaSamplesPerBlock(channels, format.nBlockAlign));
    const size_t frames = references[i].size() / channels;
    const size_t blocks = (frames + perBlock - 1) / perBlock;

    // All the audio, in whole blocks; the last one filled up.
    const std::vector<uint8_t> audio = OutputAudio(dir.path, entry);
    EXPECT_EQ(audio.size(), blocks * format.nBlockAlign);
    const std::vector<int16_t> decoded = DecodeImaAdpcm(audio, channels, format.nBlockAlign);
    const std::filesystem::path file = LocalPath(dir.path, entry.music.path);
    ExpectSoxInfo(file, channels, static_cast<int>(format.nSamplesPerSec),
                  static_cast<long long>(blocks * perBlock), "IMA ADPCM");
    const std::optional<std::vector<int16_t>> sox = SoxDecode(file);
    ASSERT_TRUE(sox);
    ASSERT_EQ(sox->size(), decoded.size());
    EXPECT_EQ(CompareSamples(decoded, *sox).maxAbs, 0);
    const std::optional<std::vector<int16_t>> ffmpeg = FfmpegDecode(file);
    ASSERT_TRUE(ffmpeg);
    EXPECT_EQ(ffmpeg->size(), decoded.size());

    // Measured 37 to 41 dB.
    EXPECT_GT(SnrDb(references[i], Head(decoded, references[i].size())), 30.0);
  }
}

TEST(Encode, G711GsmAndFloatDecodeInSoxAndFfmpegToTheDecodedAudio) {
  if (PeersMissing()) GTEST_SKIP() << "sox or ffmpeg is not installed";
  TempDir dir;
  const std::vector<EncodedEntry> entries{
      MakeEntry("mulaw.wav", StereoClip(), SampleFormat(kMuLaw, 2, 44100, 1)),
      MakeEntry("alaw.wav", MonoClip(), SampleFormat(kALaw, 1, 22050, 1)),
      MakeEntry("gsm.wav", NarrowClip(), GsmFormat(1, 8000)),
      MakeEntry("float.wav", StereoClip(), SampleFormat(kIeeeFloat, 2, 44100, 4)),
  };
  const ProgramResult result = UnpackIn(dir.path, entries);
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, Transcript(entries));

  const struct {
    std::string encoding;
    double minSnr;  // measured: G.711 37.3 and 37.6 dB, GSM 15.4 dB
  } peers[] = {{"u-law", 35},
               {"A-law", 35},
               {"GSM", 12},
               {"Floating Point", std::numeric_limits<double>::max()}};  // no difference at all
  for (size_t i = 0; i < entries.size(); ++i) {
    const EncodedEntry& entry = entries[i];
    SCOPED_TRACE(entry.music.path);
    const WaveFormat format = ReadWaveFormat(entry.target.data());
    const std::vector<int16_t> reference = Intermediate(entry.music);
    const size_t frames = reference.size() / format.nChannels;
    const bool gsm = format.wFormatTag == kGsm610;
    const size_t codedFrames = gsm ? (frames + 319) / 320 * 320 : frames;

    const std::vector<uint8_t> audio = OutputAudio(dir.path, entry);
    EXPECT_EQ(audio.size(),
              gsm ? codedFrames / 320 * 65 : reference.size() * format.wBitsPerSample / 8);
    const std::filesystem::path file = LocalPath(dir.path, entry.music.path);
    ExpectSoxInfo(file, format.nChannels, static_cast<int>(format.nSamplesPerSec),
                  static_cast<long long>(codedFrames), peers[i].encoding);
    const std::optional<std::vector<int16_t>> sox = SoxDecode(file);
    const std::optional<std::vector<int16_t>> ffmpeg = FfmpegDecode(file);
    ASSERT_TRUE(sox && ffmpeg);
    ASSERT_EQ(sox->size(), codedFrames * format.nChannels);
    ASSERT_EQ(ffmpeg->size(), sox->size());
    EXPECT_GT(SnrDb(reference, *sox), peers[i].minSnr);
    EXPECT_GT(SnrDb(reference, *ffmpeg), peers[i].minSnr);
    if (gsm) {
      EXPECT_EQ(CompareSamples(*sox, *ffmpeg).maxAbs, 0) << "sox and ffmpeg disagree";
    }
  }

  // Float samples are exactly the 16-bit values over 32768.
  const std::vector<uint8_t> floats = OutputAudio(dir.path, entries[3]);
  const std::vector<int16_t> reference = Intermediate(entries[3].music);
  ASSERT_EQ(floats.size(), reference.size() * 4);
  size_t mismatches = 0;
  for (size_t i = 0; i < reference.size(); ++i) {
    float value;
    std::memcpy(&value, floats.data() + 4 * i, 4);
    if (value != static_cast<float>(reference[i]) / 32768.0f) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0u);
}

TEST(EncodeRoad, KeepsItsScratchAudioOutOfTheWay) {
  TempDir base;
  const std::filesystem::path scratch = base.path / "tmp";  // the program's temporary folder
  const std::filesystem::path user = base.path / "user";
  const std::filesystem::path named = base.path / "named";
  for (const auto& folder : {scratch, user, named}) std::filesystem::create_directory(folder);
  const char* oldTmp = std::getenv("TMPDIR");
  const std::string savedTmp = oldTmp != nullptr ? oldTmp : "";
  setenv("TMPDIR", scratch.c_str(), 1);

  // A user's own temp.wav stays as it was, also when an entry fails while
  // its audio is half-way between decoding and encoding (the MP3 frames are
  // not at the rate its format states).
  const std::vector<uint8_t> own{'m', 'i', 'n', 'e'};
  EXPECT_TRUE(WriteBytes(user / "temp.wav", own));
  const EncodedEntry first = MakeEntry("first.wav", StereoClip(), ImaFormat(2, 44100, 1024));
  const EncodedEntry second = MakeEntry("second.wav", MonoClip(), SampleFormat(kALaw, 1, 22050, 1));
  MusicEntry misstated = PlainMusicEntry("misstated.wav", MonoClip(), 1, 16);
  misstated.payload = BuildRiffWave({{"fmt ", ClipSourceFormat(MonoClip())},
                                     {"skee", Le32(88200)},
                                     {"data", StereoClip().mp3.bytes}});
  const std::vector<EncodedEntry> userEntries{first, {misstated, ImaFormat(1, 22050, 512)}, second};
  const ProgramResult userRun = UnpackIn(user, userEntries);
  EXPECT_EQ(userRun.exitStatus, 1);
  EXPECT_NE(userRun.err.find("misstated.wav"), std::string::npos) << userRun.err;
  EXPECT_EQ(ReadBytes(user / "temp.wav"), own);
  EXPECT_EQ(ListTree(user),
            (std::vector<std::string>{"first.wav", "second.wav", "temp.wav", "test.pak"}));

  // An entry called temp.wav is written like any other, and the next
  // entry's scratch audio does not touch it.
  const std::vector<EncodedEntry> namedEntries{
      MakeEntry("temp.wav", MonoClip(), ImaFormat(1, 22050, 512)),
      MakeEntry("next.wav", StereoClip(), SampleFormat(kMuLaw, 2, 44100, 1))};
  const ProgramResult namedRun = UnpackIn(named, namedEntries);
  EXPECT_EQ(namedRun.exitStatus, 0) << namedRun.err;
  EXPECT_EQ(ListTree(named), (std::vector<std::string>{"next.wav", "temp.wav", "test.pak"}));
  const std::vector<uint8_t> audio = OutputAudio(named, namedEntries[0]);
  EXPECT_EQ(audio.size(), (44100 + 1016) / 1017 * 512u);
  const std::vector<int16_t> reference = Intermediate(namedEntries[0].music);
  EXPECT_GT(SnrDb(reference, Head(DecodeImaAdpcm(audio, 1, 512), reference.size())), 30.0);

  EXPECT_TRUE(std::filesystem::is_empty(scratch)) << "files left in TMPDIR";
  if (oldTmp != nullptr) {
    setenv("TMPDIR", savedTmp.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

TEST(EncodeRoad, NoAudioGivesACompleteFileWithAnEmptyDataChunk) {
  TempDir dir;
  // A cap of 0; and an empty "data" chunk.
  EncodedEntry capped = MakeEntry("capped.wav", StereoClip(), ImaFormat(2, 44100, 2048));
  PayloadParts parts;
  parts.kept = {{"LIST", {'I', 'N', 'F', 'O'}}};
  SetPayloadParts(&capped.music, parts);
  EncodedEntry empty = MakeEntry("empty.wav", NarrowClip(), GsmFormat(1, 8000));
  empty.music.mp3.clear();
  PayloadParts emptyParts;
  emptyParts.decodedLength = 32000;
  SetPayloadParts(&empty.music, emptyParts);

  const std::vector<EncodedEntry> entries{capped, empty};
  const ProgramResult result = UnpackIn(dir.path, entries);
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, Transcript(entries));
  for (const EncodedEntry& entry : entries) EXPECT_TRUE(OutputAudio(dir.path, entry).empty());
  EXPECT_EQ(ListTree(dir.path), (std::vector<std::string>{"capped.wav", "empty.wav", "test.pak"}));
}

TEST(EncodeRoad, RefusesTargetsItCannotEncodeAndWritesTheRest) {
  TempDir dir;
  const EncodedEntry before = MakeEntry("before.wav", MonoClip(), ImaFormat(1, 22050, 512));
  const EncodedEntry after =
      MakeEntry("after.wav", StereoClip(), SampleFormat(kMuLaw, 2, 44100, 1));
  const struct {
    EncodedEntry entry;
    std::string tag;   // how an error names the format: its tag
    std::string name;  // or its name
  } refused[] = {
      {MakeEntry("msadpcm.wav", MonoClip(), Target(kMsAdpcm, 1, 22050, 512, 11155, 4, 1012)),
       "0x0002", "ms adpcm"},
      // Not a whole number of 4-byte groups per channel.
      {MakeEntry("imaodd.wav", MonoClip(), Target(kImaAdpcm, 1, 22050, 510, 11077, 4, 1013)),
       "0x0011", "ima adpcm"},
      {MakeEntry("gsmstereo.wav", StereoClip(), GsmFormat(2, 44100)), "0x0031", "gsm 6.10"},
  };
  std::vector<EncodedEntry> entries{before};
  for (const auto& bad : refused) entries.push_back(bad.entry);
  entries.push_back(after);

  const ProgramResult result = UnpackIn(dir.path, entries);
  EXPECT_EQ(result.exitStatus, 1);
  const std::vector<std::string> errors = Lines(result.err);
  ASSERT_EQ(errors.size(), std::size(refused) + 1) << result.err;
  for (size_t i = 0; i < std::size(refused); ++i) {
    EXPECT_NE(errors[i].find(refused[i].entry.music.path), std::string::npos) << errors[i];
    const std::string line = Lower(errors[i]);
    EXPECT_TRUE(line.find(refused[i].tag) != std::string::npos ||
                line.find(refused[i].name) != std::string::npos)
        << errors[i];
  }
  EXPECT_EQ(errors.back(), "unpak: 3 of 5 entries failed");
  EXPECT_EQ(ListTree(dir.path), (std::vector<std::string>{"after.wav", "before.wav", "test.pak"}));
  EXPECT_EQ(OutputAudio(dir.path, before).size(), (44100 + 1016) / 1017 * 512u);
  EXPECT_EQ(OutputAudio(dir.path, after).size(), 88200u * 2);
}

}  // namespace
