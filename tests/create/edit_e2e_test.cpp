// `pak delete` and `pak rename` through the programs, on an archive whose
// entries share a payload: every other entry is carried over byte for byte.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "archive/pak_format.h"
#include "platform/byte_order.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace unpak {

namespace fs = std::filesystem;

namespace {

TEST(Edit, DeleteAndRenameCarryTheOtherEntriesByteForByte) {
  TempDir dir;
  const std::vector<std::vector<std::string>> sources = {
      {"in/a.wav", "-r", "22050", "-b", "16"},
      {"in/sfx/b.wav", "-r", "8000", "-e", "u-law"},
      {"in/sfx/c.wav", "-r", "11025", "-b", "8"}};
  for (const auto& source : sources) {
    fs::create_directories((dir.path / source[0]).parent_path());
    std::vector<std::string> command{"sox", "-n", "-c", "1"};
    command.insert(command.end(), source.begin() + 1, source.end());
    command.insert(command.end(), {source[0], "synth", "0.3", "sine", "300-900"});
    ASSERT_EQ(RunTool(command, dir.path).exitStatus, 0) << source[0];
  }
  ASSERT_EQ(RunPak({"create", "made.pak", "-C", "in", "."}, dir.path).exitStatus, 0);
  // sfx\c.wav takes sfx\b.wav's record but its own name: the two share a payload.
  std::vector<uint8_t> shared = ReadBytes(dir.path / "made.pak");
  const size_t b = kPakHeaderSize + kPakEntrySize, c = b + kPakEntrySize;
  const uint32_t cName = LoadLe32(&shared[c + 4]);
  std::copy_n(shared.begin() + long(b), kPakEntrySize, shared.begin() + long(c));
  StoreLe32(&shared[c + 4], cName);
  ASSERT_TRUE(WriteBytes(dir.path / "shared.pak", shared));
  ASSERT_EQ(RunUnpak("../shared.pak", dir.path / "in").exitStatus, 0);  // over the inputs
  const auto unpacked = [&](const std::string& archive) {
    fs::remove_all(dir.path / "out");
    fs::create_directory(dir.path / "out");
    EXPECT_EQ(RunUnpak("../" + archive, dir.path / "out").exitStatus, 0);
    return ListTree(dir.path / "out");
  };

  const struct {
    std::vector<std::string> args;   // of pak, writing x.pak from a copy of shared.pak
    std::vector<std::string> files;  // unpacked from x.pak, or none where refused
    std::string message;
  } cases[] = {
      {{"delete", "-o", "x.pak", "shared.pak", "A.WAV"},
       {"sfx/", "sfx/b.wav", "sfx/c.wav"},
       "1 deleted, 2 kept"},
      {{"rename", "x.pak", "sfx/c.wav", "voice/c.wav"},
       {"a.wav", "sfx/", "sfx/b.wav", "voice/", "voice/c.wav"},
       "sfx\\c.wav renamed to voice\\c.wav"},
      {{"delete", "x.pak", "a.wav", "nothing*"}, {}, "pak: x.pak: no entry matches nothing*"},
      {{"rename", "x.pak", "sfx/*", "x.wav"}, {}, "pak: x.pak: sfx/* matches 2 entries"},
      {{"rename", "x.pak", "a.wav", "SFX/B.wav"}, {}, "the archive holds sfx\\b.wav already"},
      {{"rename", "x.pak", "a.wav", "../a.wav"}, {}, "../a.wav: path climbs out of the folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    fs::copy_file(dir.path / "shared.pak", dir.path / "x.pak",
                  fs::copy_options::overwrite_existing);
    const ProgramResult result = RunPak(c.args, dir.path);
    EXPECT_EQ(result.exitStatus, c.files.empty() ? 1 : 0);
    EXPECT_NE((result.out + result.err).find(c.message), std::string::npos) << result.err;
    if (c.files.empty()) {
      EXPECT_EQ(ReadBytes(dir.path / "x.pak"), shared);
      continue;
    }
    const std::vector<uint8_t> edited = ReadBytes(dir.path / "x.pak");
    // The shared payload is stored once, and the header's total is recomputed.
    std::set<uint32_t> payloads;
    for (uint32_t i = 0; i < LoadLe32(&edited[4]); ++i)
      payloads.insert(LoadLe32(&edited[LoadLe32(&edited[8]) + i * kPakEntrySize]));
    EXPECT_EQ(payloads.size(), LoadLe32(&edited[4]) - 1);
    EXPECT_EQ(unpacked("x.pak"), c.files);
    uintmax_t total = 0;
    for (const std::string& file : c.files) {
      if (file.back() == '/') continue;
      total += fs::file_size(dir.path / "out" / file);
      const std::string old = file == "voice/c.wav" ? "sfx/c.wav" : file;
      EXPECT_EQ(ReadBytes(dir.path / "out" / file), ReadBytes(dir.path / "in" / old)) << file;
    }
    EXPECT_EQ(LoadLe32(edited.data()), total);
  }
}

}  // namespace

}  // namespace unpak
