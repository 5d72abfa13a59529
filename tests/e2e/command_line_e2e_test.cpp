// The program's command line, its codec module and archives it cannot use.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/entry_expectation.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

const EncodedClip& Clip() {
  static const EncodedClip clip = MakeEncodedClip(1, 22050, 22050, 5, 48);
  return clip;
}

std::vector<uint8_t> OneEntryPak() {
  return BuildPak({PakSource(PlainMusicEntry("song.wav", Clip(), 1, 16))}, 1 << 20);
}

TEST(CommandLine, WrongArgumentCountPrintsOnlyTheUsage) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.path / "a.pak", OneEntryPak()));
  const std::vector<std::vector<std::string>> argvs{
      {"unpak"}, {"/typed/path/unpak"}, {"unpak", "a.pak", "a.pak"}, {"unpak", "a.pak", "b", "c"}};
  for (const std::vector<std::string>& argv : argvs) {
    SCOPED_TRACE(argv.size());
    const ProgramResult result = RunProgram(UNPAK_BINARY, argv, dir.path);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.out, "Usage: " + argv[0] + " <file.pak>\n");
    EXPECT_EQ(result.err, "");
  }
  EXPECT_EQ(ListTree(dir.path), std::vector<std::string>{"a.pak"});
}

TEST(CommandLine, MissingCodecModuleEndsTheRun) {
  if (std::filesystem::exists(UNPAK_CODEC_INSTALL_PATH)) {
    GTEST_SKIP() << "a codec module is installed at " UNPAK_CODEC_INSTALL_PATH
                    ", so the program finds one wherever it runs";
  }
  TempDir dir;
  std::filesystem::create_directory(dir.path / "bin");
  const std::filesystem::path lonely = dir.path / "bin" / "unpak";
  std::filesystem::copy_file(UNPAK_BINARY, lonely);
  ASSERT_TRUE(WriteBytes(dir.path / "a.pak", OneEntryPak()));

  const ProgramResult result = RunProgram(lonely, {lonely.string(), "a.pak"}, dir.path);
  EXPECT_EQ(result.exitStatus, 255);
  EXPECT_EQ(result.out, "Unable to load codec ... exiting\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ListTree(dir.path), (std::vector<std::string>{"a.pak", "bin/", "bin/unpak"}));

  // The argument count is checked before the codec is looked for.
  const ProgramResult usage = RunProgram(lonely, {"unpak"}, dir.path);
  EXPECT_EQ(usage.exitStatus, 255);
  EXPECT_EQ(usage.out, "Usage: unpak <file.pak>\n");
}

TEST(CommandLine, ArchiveThatCannotBeUsedStopsBeforeAnyEntry) {
  TempDir dir;
  const std::vector<uint8_t> whole = BuildPak(
      {PakSource(PlainMusicEntry("one.wav", Clip(), 1, 16)),
       PakSource(PlainMusicEntry("two.wav", Clip(), 1, 16)),
       PakSource(PlainMusicEntry("three.wav", Clip(), 1, 16))},
      1 << 20);
  std::vector<uint8_t> farTable = whole;
  PatchLe32(&farTable, 8, 0xFFFFFFF0u);
  std::vector<uint8_t> manyEntries = whole;
  PatchLe32(&manyEntries, 4, 0x10000000u);

  struct Case {
    std::string name;
    std::vector<uint8_t> bytes;
  };
  const std::vector<Case> cases{
      {"empty.pak", {}},
      {"short-header.pak", std::vector<uint8_t>(whole.begin(), whole.begin() + 10)},
      {"cut-table.pak", std::vector<uint8_t>(whole.begin(), whole.begin() + 16 + 34 * 2 + 10)},
      {"far-table.pak", farTable},
      {"many-entries.pak", manyEntries},
  };
  std::vector<std::string> inputs;
  for (const Case& item : cases) {
    ASSERT_TRUE(WriteBytes(dir.path / item.name, item.bytes));
    inputs.push_back(item.name);
  }
  std::filesystem::create_directory(dir.path / "folder.pak");
  inputs.push_back("folder.pak/");
  std::sort(inputs.begin(), inputs.end());

  std::vector<std::string> names{"missing.pak", "folder.pak"};
  for (const Case& item : cases) names.push_back(item.name);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const ProgramResult result = RunUnpak({name}, dir.path);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.out, "");
    // One line that names the archive.
    EXPECT_EQ(result.err.rfind("unpak: " + name, 0), 0u) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
  }
  EXPECT_EQ(ListTree(dir.path), inputs);
}

TEST(CommandLine, ArchiveWithoutEntriesPrintsNothing) {
  TempDir dir;
  std::vector<uint8_t> pak = BuildPak({}, 0);
  ASSERT_EQ(pak.size(), 16u);
  // With no entries the table's offsets are never used.
  PatchLe32(&pak, 8, 0xFFFFFFFFu);
  PatchLe32(&pak, 12, 0xFFFFFFFFu);
  ASSERT_TRUE(WriteBytes(dir.path / "none.pak", pak));
  const ProgramResult result = RunUnpak({"none.pak"}, dir.path);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ListTree(dir.path), std::vector<std::string>{"none.pak"});
}

}  // namespace
