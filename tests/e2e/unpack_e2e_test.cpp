// Runs the program on archives of synthesized, MP3-encoded audio and checks
// its transcript, its exit status and every output file byte for byte.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/e2e/entry_expectation.h"
#include "tests/support/expected_wave.h"
#include "tests/support/file_io.h"
#include "tests/support/mpeg_frames.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

const EncodedClip& StereoClip() {
  static const EncodedClip clip = MakeEncodedClip(2, 44100, 44100 * 2, 7, 128);
  return clip;
}

// MPEG-2 LSF: 576 samples per frame.
const EncodedClip& MonoClip() {
  static const EncodedClip clip = MakeEncodedClip(1, 22050, 22050 * 2, 11, 64);
  return clip;
}

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

ProgramResult UnpackIn(const TempDir& dir, const std::vector<MusicEntry>& entries) {
  std::vector<PakEntrySource> sources;
  for (const MusicEntry& entry : entries) sources.push_back(PakSource(entry));
  EXPECT_TRUE(WriteBytes(dir.path / "test.pak", BuildPak(sources, 1 << 20)));
  return RunUnpak({"test.pak"}, dir.path);
}

std::string Transcript(const std::vector<MusicEntry>& entries) {
  std::string text;
  for (const MusicEntry& entry : entries) text += ExpectedLine(entry);
  return text;
}

// A "LIST" chunk of type "INFO" with a title.
RiffChunk InfoList() {
  std::vector<uint8_t> data = Text("INFOINAM");
  AppendBytes(&data, Le32(6));
  AppendBytes(&data, Text("Theme"));
  data.push_back(0);
  return {"LIST", data};
}

RiffChunk Cue() {
  std::vector<uint8_t> data = Le32(1);
  for (uint32_t value : {1u, 500u, 0x61746164u, 0u, 0u, 500u}) AppendBytes(&data, Le32(value));
  return {"cue ", data};
}

TEST(Unpack, WritesEntriesWithTheirChunksAndAlignedAudio) {
  TempDir dir;
  MusicEntry theme = PlainMusicEntry("theme.wav", StereoClip(), 2, 16);
  PayloadParts parts;
  parts.dropped = {{"fact", Le32(88200)}, {"junk", Text("odd")}};
  parts.decodedLength = *theme.cap;
  parts.kept = {InfoList(), {"note", Text("kept!")}};
  parts.tail = {Cue()};
  SetPayloadParts(&theme, parts);
  // Bytes beyond the form's stated size are copied too (odd: the output's
  // form gets a pad byte).
  AppendBytes(&theme.payload, Text("END"));
  AppendBytes(&theme.after, Text("END"));

  const std::vector<MusicEntry> entries{
      theme, PlainMusicEntry("a\\b\\c\\x.wav", MonoClip(), 1, 16)};
  ASSERT_GT(ExpectOutput(theme).marks, 1) << "the theme should take several decode passes";
  const ProgramResult result = UnpackIn(dir, entries);

  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, Transcript(entries));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ListTree(dir.path), (std::vector<std::string>{"a/", "a/b/", "a/b/c/", "a/b/c/x.wav",
                                                          "test.pak", "theme.wav"}));
  for (const MusicEntry& entry : entries) {
    CheckOutput(dir.path, entry);
    // The whole clip fits the MP3 stream: the cap gives exactly its length.
    EXPECT_EQ(ExpectOutput(entry).dataLength, *entry.cap) << entry.path;
  }
}

TEST(Unpack, ConvertsToTheTargetChannelsAndSampleSize) {
  TempDir dir;
  const std::vector<MusicEntry> entries{
      PlainMusicEntry("mix16.wav", StereoClip(), 1, 16),
      PlainMusicEntry("dup16.wav", MonoClip(), 2, 16),
      PlainMusicEntry("stereo8.wav", StereoClip(), 2, 8),
      PlainMusicEntry("mono8.wav", MonoClip(), 1, 8),
      PlainMusicEntry("dup8.wav", MonoClip(), 2, 8),
      PlainMusicEntry("mix8.wav", StereoClip(), 1, 8),
  };
  const ProgramResult result = UnpackIn(dir, entries);

  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, Transcript(entries));
  EXPECT_EQ(result.err, "");
  for (const MusicEntry& entry : entries) {
    CheckOutput(dir.path, entry);
    EXPECT_EQ(ExpectOutput(entry).dataLength, *entry.cap) << entry.path;
  }
}

TEST(Unpack, CapsTheAudioAndCopiesUnusualPayloadLayouts) {
  TempDir dir;
  const EncodedClip& stereo = StereoClip();
  const uint32_t fullStereo = static_cast<uint32_t>(stereo.samples.size() * 2);
  std::vector<MusicEntry> entries;

  // Cut at half the audio: fewer passes; the tail still follows "data".
  MusicEntry half = PlainMusicEntry("half.wav", stereo, 2, 16);
  PayloadParts halfParts;
  halfParts.decodedLength = fullStereo / 2;
  halfParts.kept = {InfoList()};
  halfParts.tail = {Cue()};
  SetPayloadParts(&half, halfParts);
  entries.push_back(half);

  // 8-bit output with an odd cap that cuts: 2 bytes short of it.
  MusicEntry odd8 = PlainMusicEntry("odd8.wav", MonoClip(), 1, 8);
  PayloadParts oddParts;
  oddParts.decodedLength = 10001;
  SetPayloadParts(&odd8, oddParts);
  entries.push_back(odd8);

  // A cap met exactly by the first pass: the next pass with audio writes
  // nothing but still prints its mark, and ends the loop.
  MusicEntry exact = PlainMusicEntry("exact.wav", stereo, 2, 16);
  const uint32_t chunk = uint32_t{stereo.mp3.maxFrameSize} * 32;
  uint32_t firstPassFrames = 0;
  for (const MpegFrame& frame : ScanMpegFrames(stereo.mp3.bytes)) {
    if (frame.offset + frame.length <= chunk) ++firstPassFrames;
  }
  PayloadParts exactParts;
  exactParts.decodedLength = (firstPassFrames * 1152 - kLameCodecDelay) * 4;
  SetPayloadParts(&exact, exactParts);
  entries.push_back(exact);

  // A "skee" chunk of 8 bytes whose last 4 land after "fmt "; "fmt " is not
  // the first chunk; the chunk before it is dropped.
  MusicEntry skee8 = PlainMusicEntry("skee8.wav", stereo, 2, 16);
  std::vector<uint8_t> skeeData = Le32(fullStereo);
  AppendBytes(&skeeData, Text("XTRA"));
  skee8.payload = BuildRiffWave({{"junk", Text("dropped")},
                                 {"fmt ", ClipSourceFormat(stereo)},
                                 {"skee", skeeData},
                                 InfoList(),
                                 {"data", skee8.mp3},
                                 Cue()});
  skee8.between = Text("XTRA");
  AppendBytes(&skee8.between, ChunkBytes("LIST", InfoList().data));
  skee8.after = ChunkBytes("cue ", Cue().data);
  entries.push_back(skee8);

  // No "skee" chunk: no cap, all the decoded audio after the delay.
  MusicEntry noSkee = PlainMusicEntry("noskee.wav", MonoClip(), 1, 16);
  noSkee.payload = BuildRiffWave({{"fmt ", ClipSourceFormat(MonoClip())}, {"data", noSkee.mp3}});
  noSkee.between.clear();
  noSkee.after.clear();
  noSkee.cap.reset();
  entries.push_back(noSkee);

  // An odd-length "data" chunk (whole frames, no cap reached) followed by a
  // chunk and a stray byte beyond the form.
  MusicEntry oddData = PlainMusicEntry("odddata.wav", stereo, 2, 16);
  const std::vector<MpegFrame> frames = ScanMpegFrames(stereo.mp3.bytes);
  size_t oddLength = 0;
  for (const MpegFrame& frame : frames) {
    if ((frame.offset + frame.length) % 2 == 1) oddLength = frame.offset + frame.length;
  }
  ASSERT_GT(oddLength, 0u);
  oddData.mp3.resize(oddLength);
  PayloadParts oddDataParts;
  oddDataParts.decodedLength = fullStereo;
  oddDataParts.tail = {Cue()};
  SetPayloadParts(&oddData, oddDataParts);
  AppendBytes(&oddData.payload, Text("Z"));
  AppendBytes(&oddData.after, Text("Z"));
  entries.push_back(oddData);

  // An empty "data" chunk: no pass, no mark, no audio.
  MusicEntry empty = PlainMusicEntry("empty.wav", stereo, 2, 16);
  empty.mp3.clear();
  PayloadParts emptyParts;
  emptyParts.decodedLength = fullStereo;
  SetPayloadParts(&empty, emptyParts);
  entries.push_back(empty);

  const ProgramResult result = UnpackIn(dir, entries);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, Transcript(entries));
  EXPECT_EQ(result.err, "");
  for (const MusicEntry& entry : entries) CheckOutput(dir.path, entry);

  // The lengths the rules give, stated outright.
  EXPECT_EQ(ExpectOutput(half).dataLength, fullStereo / 2);
  EXPECT_EQ(ExpectOutput(odd8).dataLength, 9999u);
  EXPECT_EQ(ExpectOutput(exact).marks, 2);
  EXPECT_EQ(ExpectOutput(exact).dataLength, exactParts.decodedLength);
  EXPECT_EQ(ExpectOutput(oddData).dataLength,
            (ScanMpegFrames(oddData.mp3).size() * 1152 - kLameCodecDelay) * 4);
  EXPECT_EQ(ExpectOutput(empty).marks, 0);
}

TEST(Unpack, ReplacesExistingFilesAndTheLaterOfTwoSharedNamesWins) {
  TempDir dir;
  std::filesystem::create_directory(dir.path / "keep");
  const std::filesystem::path old = dir.path / "keep" / "old.wav";
  ASSERT_TRUE(WriteBytes(old, Text("old contents")));
  ASSERT_EQ(chmod(old.c_str(), 0444), 0);

  const MusicEntry replaced = PlainMusicEntry("keep\\old.wav", MonoClip(), 1, 16);
  const MusicEntry first = PlainMusicEntry("dup.wav", StereoClip(), 2, 16);
  MusicEntry second = PlainMusicEntry("other.wav", MonoClip(), 2, 16);
  std::vector<PakEntrySource> sources{PakSource(replaced), PakSource(first), PakSource(second)};
  std::vector<uint8_t> pak = BuildPak(sources, 1 << 20);
  // Entry 2 takes entry 1's name.
  const size_t firstRecord = EntryRecordOffset(pak, 1);
  const size_t secondRecord = EntryRecordOffset(pak, 2);
  std::copy_n(pak.begin() + firstRecord + 4, 4, pak.begin() + secondRecord + 4);
  second.path = "dup.wav";
  ASSERT_TRUE(WriteBytes(dir.path / "test.pak", pak));

  const ProgramResult result = RunUnpak({"test.pak"}, dir.path);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, Transcript({replaced, first, second}));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ListTree(dir.path),
            (std::vector<std::string>{"dup.wav", "keep/", "keep/old.wav", "test.pak"}));
  CheckOutput(dir.path, replaced);
  CheckOutput(dir.path, second);
}

}  // namespace
