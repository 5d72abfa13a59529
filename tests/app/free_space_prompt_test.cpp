// The free-space check as a user meets it: unpak runs on a tmpfs of 320 KiB
// in a private mount namespace, with archives that state how much they need,
// and keys are typed at the prompt on its controlling terminal.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/app/terminal_run.h"
#include "tests/e2e/entry_expectation.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

const std::string kPrompt = "Continue anyway?(y/N): ";
const std::string kShortage =
    "Not enough free disk space.\nYou have 327680 bytes free.\nYou need 4294967295 bytes to unpack.\n";

// Mounts the tmpfs on $1 and runs unpak ($2) there on the archive $3, with "y"
// lines on standard input (which it must not read); then lists the tmpfs
// into $4. An interrupt must end unpak, not the shell, so the listing is
// still written.
constexpr const char* kScript =
    "trap : INT TERM HUP\n"
    "mount -t tmpfs -o size=320k tmpfs \"$1\" && cd \"$1\" || exit 99\n"
    "yes | \"$2\" \"$3\"\n"
    "status=$?\n"
    "ls -A > \"$4\"\n"
    "exit $status\n";

// The unshare option that allows mounting here: as root a mount namespace
// will do; otherwise a user namespace that maps the user to root as well.
const std::optional<std::string>& NamespaceOption() {
  static const std::optional<std::string> option = []() -> std::optional<std::string> {
    TempDir dir;
    for (const std::string option : {"-m", "-rm"}) {
      const std::vector<std::string> probe{"env", "unshare", option, "mount", "-t", "tmpfs", "tmpfs", dir.path};
      if (RunProgram("/usr/bin/env", probe, dir.path).exitStatus == 0) return option;
    }
    return std::nullopt;
  }();
  return option;
}

const MusicEntry& Song() {
  static const EncodedClip clip = MakeEncodedClip(1, 22050, 22050, 7, 48);
  static const MusicEntry entry = PlainMusicEntry("song.wav", clip, 1, 16);
  return entry;
}

// A folder with an archive that states `needed`, and the command that unpacks it.
struct Unpacking {
  TempDir dir;
  std::vector<std::string> command;
};

// What the run left on the tmpfs.
std::vector<std::string> Listing(const Unpacking& run) {
  std::ifstream in(run.dir.path / "listing");
  std::vector<std::string> names;
  for (std::string name; std::getline(in, name);) names.push_back(name);
  return names;
}

void Prepare(Unpacking* run, uint32_t needed) {
  ASSERT_TRUE(WriteBytes(run->dir.path / "test.pak", BuildPak({PakSource(Song())}, needed)));
  ASSERT_TRUE(std::filesystem::create_directory(run->dir.path / "small"));
  const auto in = [&](const char* name) { return (run->dir.path / name).string(); };
  run->command = {"unshare", *NamespaceOption(), "sh", "-c", kScript, "sh",
                  in("small"), UNPAK_BINARY, in("test.pak"), in("listing")};
}

TEST(FreeSpacePrompt, KeysAtTheTerminalDecide) {
  if (!NamespaceOption()) GTEST_SKIP() << "this process may not mount a tmpfs in a private mount namespace";
  const struct { std::string keys, echoed; int status; } cases[] = {
      {"xY", "x" + kPrompt + "Y", 0},  // any other key asks again on the same line
      {"\ry", "\r" + kPrompt + "y", 0},  // Enter gives carriage return, which asks again
      {"\x1b[Ay", "^[" + kPrompt + "[" + kPrompt + "A" + kPrompt + "y", 0},  // code by code
      {"n", "n", 255},
      {"\n", "\n", 255},  // Ctrl+J gives line feed, which means no
      {"\x03", "", 128 + SIGINT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.keys));
    Unpacking run;
    ASSERT_NO_FATAL_FAILURE(Prepare(&run, 0xFFFFFFFFu));
    const TerminalRun result = RunOnTerminal(run.command, run.dir.path, kPrompt, c.keys);
    const bool yes = c.status == 0;
    EXPECT_EQ(result.exitStatus, c.status);
    EXPECT_EQ(result.transcript, kShortage + kPrompt + c.echoed + (yes ? ExpectedLine(Song()) : ""));
    EXPECT_TRUE(result.settingsRestored);
    EXPECT_EQ(Listing(run), yes ? std::vector<std::string>{"song.wav"} : std::vector<std::string>{});
  }
}

TEST(FreeSpacePrompt, WithoutTerminalAShortageMeansNo) {
  if (!NamespaceOption()) GTEST_SKIP() << "this process may not mount a tmpfs in a private mount namespace";
  const struct { uint32_t needed; std::string out; int status; } cases[] = {
      {327681, "Not enough free disk space.\nYou have 327680 bytes free.\nYou need 327681 bytes to unpack.\n" +
                   kPrompt + "\n", 255},
      {327680, ExpectedLine(Song()), 0},  // exactly the free space is enough
      {0, ExpectedLine(Song()), 0},
  };
  for (const auto& c : cases) {
    Unpacking run;
    ASSERT_NO_FATAL_FAILURE(Prepare(&run, c.needed));
    std::vector<std::string> argv{"env", "setsid", "-w"};
    argv.insert(argv.end(), run.command.begin(), run.command.end());
    const ProgramResult result = RunProgram("/usr/bin/env", argv, run.dir.path);
    EXPECT_EQ(result.exitStatus, c.status) << c.needed;
    EXPECT_EQ(result.out, c.out) << c.needed;
    EXPECT_EQ(result.err, "") << c.needed;
    EXPECT_EQ(Listing(run).size(), c.status == 0 ? 1u : 0u) << c.needed;
  }
}

}  // namespace
