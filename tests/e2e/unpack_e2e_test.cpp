// Runs the program on archives of synthesized, MP3-encoded audio and checks
// its transcript, its exit status and every output file byte for byte; its
// command line, its codec module, archives it cannot use, and an interrupt.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "tests/e2e/entry_expectation.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_bytes.h"

namespace unpak {

namespace {

TEST(Unpack, WritesEveryEntryWithItsChunksCappedAndAlignedAudio) {
  TempDir dir;
  const EncodedClip& stereo = StereoClip();
  const FormatBlock source = ClipSourceFormat(stereo);
  const uint32_t full = static_cast<uint32_t>(stereo.samples.size() * 2);
  const RiffChunk info{"LIST", Text("INFO")};
  const RiffChunk cue{"cue ", Le32(1)};

  // Capped at half: fewer passes, and the tail still follows "data".
  const MusicEntry theme = WithParts(PlainMusicEntry("theme.wav", stereo, 2, 16), full / 2,
                                     {info, {"note", Text("kept!")}}, {cue},
                                     {{"fact", Le32(88200)}, {"junk", Text("odd")}});

  // A "skee" chunk of 8 bytes whose last 4 land after "fmt "; "fmt " is not
  // the first chunk; the chunk before it is dropped.
  std::vector<uint8_t> skee = Le32(full);
  AppendBytes(&skee, Text("XTRA"));
  MusicEntry skee8 = WithParts(PlainMusicEntry("skee8.wav", stereo, 2, 16), full, {info}, {cue});
  skee8.payload = BuildRiffWave({{"junk", Text("dropped")},
                                 {"fmt ", source},
                                 {"skee", skee},
                                 info,
                                 {"data", skee8.mp3},
                                 cue});
  skee8.between.insert(skee8.between.begin(), skee.begin() + 4, skee.end());

  // No "skee" chunk (no cap) and an odd-length "data" chunk decoded to its
  // end, then a chunk and a stray byte beyond the form (copied too; the
  // output's form gets a pad byte).
  MusicEntry oddData = WithParts(PlainMusicEntry("odddata.wav", stereo, 2, 16), 0, {}, {cue});
  oddData.mp3.resize(oddData.mp3.size() / 2 * 2 - 1);
  oddData.payload = BuildRiffWave({{"fmt ", source}, {"data", oddData.mp3}, cue});
  AppendBytes(&oddData.payload, Text("Z"));
  AppendBytes(&oddData.after, Text("Z"));
  oddData.cap.reset();

  const std::vector<MusicEntry> entries{
      theme,
      skee8,
      oddData,
      // 8-bit output with an odd cap that cuts: 2 bytes short of it.
      WithParts(PlainMusicEntry("odd8.wav", stereo, 1, 8), 10001),
      PlainMusicEntry("a\\b\\mix.wav", stereo, 1, 16),
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
  // The odd-length stream's cut last frame is damage, said but not a failure.
  EXPECT_EQ(result,
            (ProgramResult{0, transcript,
                           "unpak: entry 2 (odddata.wav): damaged: the MP3 stream ends inside a "
                           "frame\n"}));
  EXPECT_EQ(
      ListTree(dir.path),
      (std::vector<std::string>{"a/", "a/b/", "a/b/mix.wav", "dup.wav", "keep/", "keep/old.wav",
                                "odd8.wav", "odddata.wav", "skee8.wav", "test.pak", "theme.wav"}));
  for (size_t i = 0; i + 2 < entries.size(); ++i) CheckOutput(dir.path, entries[i]);
  // Outputs get an ordinary new file's permissions, not a temporary file's.
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(std::filesystem::status(dir.path / "theme.wav").permissions(),
            std::filesystem::perms(0666 & ~mask));
  CheckOutput(dir.path, entries.back());

  // The lengths the rules give, stated outright.
  EXPECT_EQ(ExpectOutput(theme).audio.size(), full / 2);
  EXPECT_EQ(ExpectOutput(entries[3]).audio.size(), 9999u);
}

TEST(Unpack, AnInterruptedRunLeavesNoTemporaryOrHalfWrittenFile) {
  TempDir dir;
  // Many mu-law entries (each through a scratch file and an output under a
  // temporary name), so that the run is still going when the signal comes.
  MusicEntry song = PlainMusicEntry("song.wav", StereoClip(), 2, 16);
  song.target = MakeFormatBlock({7, 2, 44100, 88200, 2, 8, 0});
  std::vector<PakEntrySource> sources(200, PakSource(song));
  for (size_t i = 0; i < sources.size(); ++i) sources[i].path = std::to_string(i) + ".wav";
  ASSERT_TRUE(WriteBytes(dir.path / "test.pak", BuildPak(sources, 1 << 20)));
  const auto interrupt = [&](pid_t pid) {  // once past the first entry, inside another
    for (int tries = 0; tries < 10000; ++tries, usleep(100)) {
      const std::vector<std::string> now = ListTree(dir.path);
      if (std::ranges::count(now, "0.wav")) break;
    }
    kill(pid, SIGINT);
  };
  const ProgramResult result = RunProgram(UNPAK_BINARY, {"unpak", "test.pak"}, dir.path, interrupt);
  EXPECT_EQ(result.exitStatus, 128 + SIGINT);
  // Whatever stands is a finished output; nothing else is left. (Its line
  // may be cut: an output is put in place before its line is printed, so
  // that no line ever names a file that is not there.)
  std::vector<std::string> names = ListTree(dir.path);
  names.pop_back();  // test.pak, last in order
  for (const std::string& name : names) {
    song.path = name;
    EXPECT_EQ(OutputAudio(dir.path, song).size(), StereoClip().samples.size());  // a byte a sample
  }
}

TEST(CommandLine, UsageMissingCodecAndUnusableArchivesEndTheRunAtOnce) {
  TempDir dir;
  const std::vector<uint8_t> pak =
      BuildPak({PakSource(PlainMusicEntry("a.wav", MonoClip(), 1, 16)),
                PakSource(PlainMusicEntry("b.wav", MonoClip(), 1, 16))},
               1 << 20);
  ASSERT_TRUE(WriteBytes(dir.path / "a.pak", pak));
  for (const std::vector<std::string>& argv : {std::vector<std::string>{"/typed/path/unpak"},
                                               std::vector<std::string>{"unpak", "a", "b"}}) {
    EXPECT_EQ(RunProgram(UNPAK_BINARY, argv, dir.path),
              (ProgramResult{255, "Usage: " + argv[0] + " <file.pak>\n", ""}));
  }
  // A truncated archive: one line naming it, and nothing written.
  ASSERT_TRUE(WriteBytes(dir.path / "table.pak", {pak.begin(), pak.begin() + 16 + 34 + 10}));
  EXPECT_EQ(
      RunUnpak({"table.pak"}, dir.path),
      (ProgramResult{255, "",
                     "unpak: table.pak: entry table (2 entries of 34 bytes at offset 16) runs "
                     "past the end of the file (60 bytes)\n"}));
  // No entries: nothing to do; the table's offsets are never used.
  std::vector<uint8_t> none = BuildPak({}, 0);
  StoreLe32(none.data() + 8, 0xFFFFFFFFu);
  StoreLe32(none.data() + 12, 0xFFFFFFFFu);
  ASSERT_TRUE(WriteBytes(dir.path / "none.pak", none));
  EXPECT_EQ(RunUnpak({"none.pak"}, dir.path), (ProgramResult{0, "", ""}));
  // Without its codec module next to it or in an install tree around it, the program stops.
  TempDir bin;
  std::filesystem::copy_file(UNPAK_BINARY, bin.path / "unpak");
  EXPECT_EQ(RunProgram(bin.path / "unpak", {"unpak", "a.pak"}, dir.path),
            (ProgramResult{255, "Unable to load codec ... exiting\n", ""}));
  EXPECT_EQ(ListTree(dir.path), (std::vector<std::string>{"a.pak", "none.pak", "table.pak"}));
}

}  // namespace

}  // namespace unpak
