// pak's commands through the real binary: list (as a table and as JSON),
// test and extract, on sound entries and on damaged ones.

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
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

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Three sound entries, then four that are damaged in ways only decoding
// shows or that cannot be unpacked at all.
struct Fixture {
  TempDir dir;
  std::vector<MusicEntry> sound{PlainMusicEntry("Music\\Theme.wav", StereoClip(), 2, 16),
                                PlainMusicEntry("sfx\\door1.wav", MonoClip(), 1, 8),
                                PlainMusicEntry("voice\\line.wav", MonoClip(), 1, 16, 8000)};
  std::vector<PakEntrySource> damaged;

  Fixture() {
    MusicEntry cut = PlainMusicEntry("cut.wav", MonoClip(), 1, 16);
    cut.mp3.resize(cut.mp3.size() / 2 + 7);  // ends inside a frame, short of its length
    cut = WithParts(cut, *cut.cap);
    MusicEntry garbage = PlainMusicEntry("garbage.wav", MonoClip(), 1, 16);
    for (size_t i = 100; i < 400; ++i) garbage.mp3[i] = static_cast<uint8_t>(i * 37);
    garbage = WithParts(garbage, *garbage.cap);
    MusicEntry unsupported = PlainMusicEntry("adpcm.wav", MonoClip(), 1, 16);
    unsupported.target = MakeFormatBlock({2, 1, 22050, 11155, 512, 4, 2});
    PakEntrySource outside = PakSource(sound[1]);
    outside.path = "..\\out.wav";
    damaged = {PakSource(cut), PakSource(garbage), PakSource(unsupported), outside};
    std::vector<PakEntrySource> sources;
    for (const MusicEntry& entry : sound) sources.push_back(PakSource(entry));
    EXPECT_TRUE(WriteBytes(dir.path / "sound.pak", BuildPak(sources, 1234)));
    sources.insert(sources.end(), damaged.begin(), damaged.end());
    EXPECT_TRUE(WriteBytes(dir.path / "damaged.pak", BuildPak(sources, 0)));
  }
};

TEST(PakCommandLine, UsageErrorsExitWithStatus2) {
  TempDir dir;
  for (const std::vector<std::string>& wrong :
       {std::vector<std::string>{}, {"list"}, {"test", "-j", "0", "a.pak"}}) {
    const ProgramResult result = RunPak(wrong, dir.path);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(Contains(result.err, "Usage: pak")) << result.err;
  }
  EXPECT_EQ(RunPak({"--help"}, dir.path).exitStatus, 0);
  // An archive or folder that cannot be used, or no codec module: status 2 before any work.
  std::filesystem::copy_file(UNPAK_PAK_BINARY, dir.path / "pak");
  const std::pair<std::vector<std::string>, std::string> unusable[] = {
      {{"list", "missing.pak"}, "missing.pak: cannot open: No such file or directory"},
      {{"test", "."}, ".: not a regular file"},
      {{"extract", "-C", "pak", "a.pak"}, "pak: cannot enter the folder: Not a directory"},
      {{"./pak", "list", "a.pak"}, "cannot load the codec module"},
      {{"./pak", "test", "a.pak"}, "cannot load the codec module"},
      {{"./pak", "extract", "a.pak"}, "cannot load the codec module"},
      {{"./pak", "create", "a.pak", "a.wav"}, "cannot load the codec module"},
      {{"./pak", "update", "a.pak", "a.wav"}, "cannot load the codec module"}};
  for (const auto& [argv, problem] : unusable) {
    const ProgramResult result =
        argv[0] == "./pak" ? RunProgram(dir.path / "pak", argv, dir.path) : RunPak(argv, dir.path);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.err.rfind("pak: " + problem, 0), 0u) << result.err;
  }
}

TEST(PakList, ShowsEachEntryAndNamesTheOnesThatCannotBeUnpacked) {
  Fixture f;
  const ProgramResult table = RunPak({"list", "damaged.pak"}, f.dir.path);
  EXPECT_EQ(table.exitStatus, 1);
  for (const char* part :
       {"PCM 16-bit stereo 44100 Hz", "PCM 8-bit mono 22050 Hz", "PCM 16-bit mono 8000 Hz",
        "0:02.000", "Music\\Theme.wav", "7 entries (the header states 0 bytes)"}) {
    EXPECT_TRUE(Contains(table.out, part)) << part << "\n" << table.out;
  }
  EXPECT_EQ(table.err,
            "pak: entry 5 (adpcm.wav): no encoder for format tag 0x0002\n"
            "pak: entry 6 (..\\out.wav): path climbs out of the folder with \"..\"\n");

  const ProgramResult json = RunPak({"list", "--json", "damaged.pak"}, f.dir.path);
  EXPECT_EQ(json.exitStatus, 1);
  const nlohmann::json document = nlohmann::json::parse(json.out);
  ASSERT_EQ(document["entries"].size(), 7u);
  EXPECT_EQ(document["entryCount"], 7);
  uint64_t total = 0;
  for (size_t i = 0; i < f.sound.size(); ++i) {
    const nlohmann::json& entry = document["entries"][i];
    const MusicEntry& expected = f.sound[i];
    EXPECT_EQ(entry["path"], expected.path);
    EXPECT_EQ(entry["problem"], nullptr);
    EXPECT_EQ(entry["decodedLength"], *expected.cap);
    EXPECT_EQ(entry["target"]["bits"], expected.bits);
    EXPECT_EQ(entry["target"]["channels"], expected.channels);
    EXPECT_EQ(entry["source"]["rate"], expected.clip->rate);
    EXPECT_EQ(entry["payloadSize"], expected.payload.size());
    EXPECT_DOUBLE_EQ(entry["durationSeconds"].get<double>(), 2.0);
    total += entry["outputSize"].get<uint64_t>();
  }
  EXPECT_EQ(document["entries"][5]["problem"], "no encoder for format tag 0x0002");
  EXPECT_EQ(document["entries"][5]["outputSize"], nullptr);

  // A listing that cannot be written, or has nowhere to go, is a failure.
  const std::pair<std::string, std::string> lost[] = {
      {">/dev/full", "pak: cannot write the listing: No space left on device\n"},
      {">&-", "pak: standard output is closed: the listing has nowhere to go\n"}};
  for (const auto& [redirection, problem] : lost) {
    EXPECT_EQ(
        RunProgram("/bin/sh",
                   {"sh", "-c", "\"$0\" list --json sound.pak " + redirection, UNPAK_PAK_BINARY},
                   f.dir.path),
        (ProgramResult{2, "", problem}));
  }

  // The predicted sizes are what unpak writes for sound entries.
  std::filesystem::create_directory(f.dir.path / "out");
  ASSERT_EQ(RunProgram(UNPAK_BINARY, {"unpak", "../sound.pak"}, f.dir.path / "out").exitStatus, 0);
  uint64_t written = 0;
  for (const MusicEntry& entry : f.sound) {
    std::string native = entry.path;
    std::replace(native.begin(), native.end(), '\\', '/');
    written += std::filesystem::file_size(f.dir.path / "out" / native);
  }
  EXPECT_EQ(total, written);
}

TEST(PakTest, DecodesEverythingWritesNothingAndNamesTheDamage) {
  Fixture f;
  const std::vector<std::string> before = ListTree(f.dir.path);
  const ProgramResult sound = RunPak({"test", "sound.pak"}, f.dir.path);
  EXPECT_EQ(sound.exitStatus, 0) << sound.err;
  EXPECT_TRUE(Contains(sound.out, "Testing Music\\Theme.wav : ")) << sound.out;
  EXPECT_TRUE(Contains(sound.out, "3 entries tested: 3 ok, 0 failed or damaged\n")) << sound.out;

  const ProgramResult damaged = RunPak({"test", "damaged.pak"}, f.dir.path);
  EXPECT_EQ(damaged.exitStatus, 1);
  EXPECT_TRUE(Contains(damaged.out, "7 entries tested: 3 ok, 4 failed or damaged\n"));
  for (const char* part : {"entry 3 (cut.wav): damaged: the MP3 stream ends inside a frame",
                           "entry 3 (cut.wav): damaged: the decoded audio is ",
                           "entry 4 (garbage.wav): damaged: the decoder had to skip",
                           "that are no MPEG frame, in 1 place\n",
                           "entry 5 (adpcm.wav): no encoder for format tag 0x0002"}) {
    EXPECT_TRUE(Contains(damaged.err, part)) << part << "\n" << damaged.err;
  }
  EXPECT_EQ(ListTree(f.dir.path), before);
}

TEST(PakExtract, WritesTheMatchingEntriesAsUnpakDoes) {
  Fixture f;
  const ProgramResult result =
      RunPak({"extract", "-C", "out/here", "sound.pak", "MUSIC/*", "sfx/door?.wav", "nothing*"},
             f.dir.path);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, ExpectedLine(f.sound[0]) + ExpectedLine(f.sound[1]));
  EXPECT_EQ(result.err,
            "pak: " + (f.dir.path / "sound.pak").string() + ": no entry matches nothing*\n");
  CheckOutput(f.dir.path / "out" / "here", f.sound[0]);
  CheckOutput(f.dir.path / "out" / "here", f.sound[1]);
  EXPECT_EQ(ListTree(f.dir.path / "out"),
            (std::vector<std::string>{"here/", "here/Music/", "here/Music/Theme.wav", "here/sfx/",
                                      "here/sfx/door1.wav"}));
  EXPECT_EQ(RunPak({"extract", "sound.pak"}, f.dir.path).exitStatus, 0);
}

}  // namespace

}  // namespace unpak
