// Runs the program on archives of synthesized, MP3-encoded audio and checks
// its transcript, its exit status and every output file byte for byte; and
// its command line, its codec module and archives it cannot use.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "tests/e2e/entry_expectation.h"
#include "tests/support/audio_reference.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_bytes.h"

namespace {

TEST(Unpack, WritesEveryEntryWithItsChunksCappedAndAlignedAudio) {
  TempDir dir;
  const EncodedClip& stereo = StereoClip();
  const uint32_t full = static_cast<uint32_t>(stereo.samples.size() * 2);
  const RiffChunk info{"LIST", Text("INFO")};
  const RiffChunk cue{"cue ", Le32(1)};

  MusicEntry theme = WithParts(PlainMusicEntry("theme.wav", stereo, 2, 16), full,
                               {info, {"note", Text("kept!")}}, {cue},
                               {{"fact", Le32(88200)}, {"junk", Text("odd")}});
  // Bytes beyond the form's stated size are copied too (odd: the output's
  // form gets a pad byte).
  AppendBytes(&theme.payload, Text("END"));
  AppendBytes(&theme.after, Text("END"));

  // A "skee" chunk of 8 bytes whose last 4 land after "fmt "; "fmt " is not
  // the first chunk; the chunk before it is dropped.
  MusicEntry skee8 = PlainMusicEntry("skee8.wav", stereo, 2, 16);
  std::vector<uint8_t> skee = Le32(full);
  AppendBytes(&skee, Text("XTRA"));
  skee8.payload = BuildRiffWave({{"junk", Text("dropped")}, {"fmt ", ClipSourceFormat(stereo)},
                                 {"skee", skee}, info, {"data", skee8.mp3}, cue});
  skee8.between = Text("XTRA");
  AppendBytes(&skee8.between, ChunkBytes(info.id, info.data));
  skee8.after = ChunkBytes(cue.id, cue.data);

  // No "skee" chunk: no cap, all the decoded audio after the delay.
  MusicEntry noSkee = PlainMusicEntry("noskee.wav", MonoClip(), 1, 16);
  noSkee.payload = BuildRiffWave({{"fmt ", ClipSourceFormat(MonoClip())}, {"data", noSkee.mp3}});
  noSkee.between.clear();
  noSkee.after.clear();
  noSkee.cap.reset();

  // An odd-length "data" chunk decoded to its end, then a chunk and a stray
  // byte beyond the form.
  MusicEntry oddData = PlainMusicEntry("odddata.wav", stereo, 2, 16);
  oddData.mp3.resize(oddData.mp3.size() / 2 * 2 - 1);
  oddData = WithParts(oddData, 0x7FFFFFFF, {}, {cue});
  AppendBytes(&oddData.payload, Text("Z"));
  AppendBytes(&oddData.after, Text("Z"));

  MusicEntry empty = PlainMusicEntry("empty.wav", stereo, 2, 16);
  empty.mp3.clear();
  empty = WithParts(empty, full);

  // A cap met exactly by the first pass: the next pass with audio writes
  // nothing but still prints its mark, and ends the loop.
  const size_t firstPass = DecodeInPasses(stereo.mp3.bytes, stereo.mp3.maxFrameSize * 32u)[0].size();
  const uint32_t exactCap = static_cast<uint32_t>((firstPass / 2 - kLameCodecDelay) * 4);

  const std::vector<MusicEntry> entries{
      theme, skee8, noSkee, oddData, empty,
      WithParts(PlainMusicEntry("exact.wav", stereo, 2, 16), exactCap),
      // Cut at half the audio: fewer passes; the tail still follows "data".
      WithParts(PlainMusicEntry("half.wav", stereo, 2, 16), full / 2, {info}, {cue}),
      // 8-bit output with an odd cap that cuts: 2 bytes short of it.
      WithParts(PlainMusicEntry("odd8.wav", MonoClip(), 1, 8), 10001),
      PlainMusicEntry("a\\b\\c\\x.wav", MonoClip(), 1, 16),
      PlainMusicEntry("mix16.wav", stereo, 1, 16),
      PlainMusicEntry("mix8.wav", stereo, 1, 8),
      PlainMusicEntry("dup8.wav", MonoClip(), 2, 8),
      // An existing read-only file is replaced; of two entries with one
      // name, the later wins.
      PlainMusicEntry("keep\\old.wav", MonoClip(), 1, 16),
      PlainMusicEntry("dup.wav", stereo, 2, 16),
      PlainMusicEntry("dup.wav", MonoClip(), 2, 16),
  };
  std::filesystem::create_directory(dir.path / "keep");
  ASSERT_TRUE(WriteBytes(dir.path / "keep" / "old.wav", Text("old contents")));
  ASSERT_EQ(chmod((dir.path / "keep" / "old.wav").c_str(), 0444), 0);

  std::string transcript;
  const ProgramResult result = UnpackEntries(dir.path, entries, &transcript);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, transcript);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ListTree(dir.path),
            (std::vector<std::string>{"a/", "a/b/", "a/b/c/", "a/b/c/x.wav", "dup.wav", "dup8.wav",
                                      "empty.wav", "exact.wav", "half.wav", "keep/", "keep/old.wav",
                                      "mix16.wav", "mix8.wav", "noskee.wav", "odd8.wav",
                                      "odddata.wav", "skee8.wav", "test.pak", "theme.wav"}));
  for (size_t i = 0; i + 2 < entries.size(); ++i) CheckOutput(dir.path, entries[i]);
  CheckOutput(dir.path, entries.back());

  // The lengths the rules give, stated outright.
  EXPECT_GT(ExpectOutput(theme).marks, 1) << "the theme should take several decode passes";
  EXPECT_EQ(ExpectOutput(theme).audio.size(), full);
  EXPECT_EQ(ExpectOutput(entries[5]).marks, 2);
  EXPECT_EQ(ExpectOutput(entries[7]).audio.size(), 9999u);
}

TEST(CommandLine, UsageMissingCodecAndUnusableArchivesEndTheRunAtOnce) {
  TempDir dir;
  const std::vector<uint8_t> pak = BuildPak({PakSource(PlainMusicEntry("a.wav", MonoClip(), 1, 16)),
                                             PakSource(PlainMusicEntry("b.wav", MonoClip(), 1, 16))},
                                            1 << 20);
  ASSERT_TRUE(WriteBytes(dir.path / "a.pak", pak));
  for (const std::vector<std::string>& argv :
       {std::vector<std::string>{"/typed/path/unpak"}, std::vector<std::string>{"unpak", "a", "b"}}) {
    const ProgramResult result = RunProgram(UNPAK_BINARY, argv, dir.path);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.out, "Usage: " + argv[0] + " <file.pak>\n");
    EXPECT_EQ(result.err, "");
  }
  // Archives that cannot be used: one line naming the archive.
  ASSERT_TRUE(WriteBytes(dir.path / "header.pak", {pak.begin(), pak.begin() + 10}));
  ASSERT_TRUE(WriteBytes(dir.path / "table.pak", {pak.begin(), pak.begin() + 16 + 34 + 10}));
  for (const std::string name : {"missing.pak", "header.pak", "table.pak"}) {
    const ProgramResult result = RunUnpak({name}, dir.path);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("unpak: " + name, 0), 0u) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
  }
  // No entries: nothing to do; the table's offsets are never used.
  std::vector<uint8_t> none = BuildPak({}, 0);
  StoreLe32(none.data() + 8, 0xFFFFFFFFu);
  StoreLe32(none.data() + 12, 0xFFFFFFFFu);
  ASSERT_TRUE(WriteBytes(dir.path / "none.pak", none));
  const ProgramResult nothing = RunUnpak({"none.pak"}, dir.path);
  EXPECT_EQ(nothing.exitStatus, 0);
  EXPECT_EQ(nothing.out + nothing.err, "");
  // Without its codec module next to it (and none installed) the program stops.
  TempDir bin;
  std::filesystem::copy_file(UNPAK_BINARY, bin.path / "unpak");
  if (!std::filesystem::exists(UNPAK_CODEC_INSTALL_PATH)) {
    const ProgramResult result = RunProgram(bin.path / "unpak", {"unpak", "a.pak"}, dir.path);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.out, "Unable to load codec ... exiting\n");
    EXPECT_EQ(result.err, "");
  }
  EXPECT_EQ(ListTree(dir.path),
            (std::vector<std::string>{"a.pak", "header.pak", "none.pak", "table.pak"}));
}

}  // namespace
