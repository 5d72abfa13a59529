// The shortage prompt as a user at a terminal meets it: unpak runs on a small
// tmpfs with an archive that needs 4 GiB - 1 bytes, and keys are typed on its
// controlling terminal.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/app/small_file_system.h"
#include "tests/app/terminal_run.h"
#include "tests/e2e/entry_expectation.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kPrompt = "Continue anyway?(y/N): ";
const std::string kShortage =
    "Not enough free disk space.\nYou have 327680 bytes free.\nYou need 4294967295 bytes to unpack.\n";

const MusicEntry& Song() {
  static const EncodedClip clip = MakeEncodedClip(1, 22050, 22050, 7, 48);
  static const MusicEntry entry = PlainMusicEntry("song.wav", clip, 1, 16);
  return entry;
}

// A folder with the archive and an empty mount point for the tmpfs.
struct RunSetup {
  TempDir dir;
  std::optional<std::vector<std::string>> command;
  std::filesystem::path listing;
};

void Prepare(RunSetup* setup) {
  const std::filesystem::path archive = setup->dir.path / "big.pak";
  ASSERT_TRUE(WriteBytes(archive, BuildPak({PakSource(Song())}, 0xFFFFFFFFu)));
  ASSERT_TRUE(std::filesystem::create_directory(setup->dir.path / "small"));
  setup->listing = setup->dir.path / "listing.txt";
  setup->command = UnpakOnSmallFileSystem(UNPAK_BINARY, archive, "320k",
                                          setup->dir.path / "small", setup->listing);
}

#define PREPARE_OR_SKIP(setup)                                                          \
  ASSERT_NO_FATAL_FAILURE(Prepare(&setup));                                             \
  if (!setup.command) {                                                                 \
    GTEST_SKIP() << "this process may not mount a tmpfs in a private mount namespace, " \
                    "so no small file system can be made for the run";                  \
  }

struct KeyCase {
  std::vector<std::string> keys;  // typed one step per prompt seen
  std::string echoed;             // prompts and echoes after the first prompt
};

TEST(FreeSpacePrompt, YesAfterOtherKeysGoesOnWithTheRun) {
  const std::vector<KeyCase> cases{
      {{"y"}, "y"},
      {{"x", "Y"}, "x" + kPrompt + "Y"},
      // Enter gives carriage return, which only asks again.
      {{"\r", "y"}, "\r" + kPrompt + "y"},
      // An arrow key's three codes each ask again; escape echoes as "^[".
      {{"\x1b[A", "y"}, "^[" + kPrompt + "[" + kPrompt + "A" + kPrompt + "y"},
      // Keys typed ahead of the prompts still show in order.
      {{"q\tY"}, "q" + kPrompt + "\t" + kPrompt + "Y"},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.keys));
    RunSetup setup;
    PREPARE_OR_SKIP(setup);
    const TerminalRun run = RunOnTerminal(*setup.command, setup.dir.path, kPrompt, c.keys);
    ASSERT_TRUE(run.finished) << run.transcript;
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.transcript, kShortage + kPrompt + c.echoed + ExpectedLine(Song()));
    EXPECT_TRUE(run.settingsRestored);
    EXPECT_EQ(ReadListing(setup.listing), std::vector<std::string>{"song.wav"});
  }
}

TEST(FreeSpacePrompt, NoEndsTheRunBeforeAnyEntry) {
  const std::vector<KeyCase> cases{
      {{"n"}, "n"},
      {{"N"}, "N"},
      // Ctrl+J gives line feed, which means no.
      {{"\n"}, "\n"},
      {{"\r", "x", "n"}, "\r" + kPrompt + "x" + kPrompt + "n"},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.keys));
    RunSetup setup;
    PREPARE_OR_SKIP(setup);
    const TerminalRun run = RunOnTerminal(*setup.command, setup.dir.path, kPrompt, c.keys);
    ASSERT_TRUE(run.finished) << run.transcript;
    EXPECT_EQ(run.exitStatus, 255);
    EXPECT_EQ(run.transcript, kShortage + kPrompt + c.echoed);
    EXPECT_TRUE(run.settingsRestored);
    EXPECT_EQ(ReadListing(setup.listing), std::vector<std::string>{});
  }
}

TEST(FreeSpacePrompt, InterruptAtThePromptPutsTheTerminalBack) {
  RunSetup setup;
  PREPARE_OR_SKIP(setup);
  const TerminalRun run = RunOnTerminal(*setup.command, setup.dir.path, kPrompt, {"\x03"});
  ASSERT_TRUE(run.finished) << run.transcript;
  // Ctrl+C ends the run by SIGINT, as if nothing were caught.
  EXPECT_EQ(run.exitStatus, 128 + 2);
  EXPECT_EQ(run.transcript, kShortage + kPrompt);
  EXPECT_TRUE(run.settingsRestored);
  EXPECT_EQ(ReadListing(setup.listing), std::vector<std::string>{});
}

TEST(FreeSpacePrompt, WithoutTerminalTheAnswerIsNo) {
  RunSetup setup;
  PREPARE_OR_SKIP(setup);
  std::vector<std::string> argv{"env", "setsid", "-w"};
  argv.insert(argv.end(), setup.command->begin(), setup.command->end());
  const ProgramResult result = RunProgram("/usr/bin/env", argv, setup.dir.path);
  EXPECT_EQ(result.exitStatus, 255);
  EXPECT_EQ(result.out, kShortage + kPrompt + "\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(ReadListing(setup.listing), std::vector<std::string>{});
}

}  // namespace
