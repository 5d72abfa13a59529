// Which output paths an archive may write at: the form of the path, then
// symbolic links on the way to its folder; and a run, which refuses an entry
// under a link before it prints the entry's line.

#include "run/output_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/output_file.h"
#include "platform/parent_directory.h"
#include "tests/e2e/entry_expectation.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace unpak {

namespace {

namespace fs = std::filesystem;

TEST(OutputPath, AcceptsOnlyRelativePathsThatStayInsideWithoutLinks) {
  TempDir dir, outside;
  fs::create_directories(dir.path / "real" / "deep");
  fs::create_directory_symlink(dir.path / "real", dir.path / "inner");
  fs::create_directory_symlink(outside.path, dir.path / "real" / "away");
  fs::create_symlink("missing", dir.path / "dangling");
  ASSERT_TRUE(WriteBytes(dir.path / "plain.txt", {1}));
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path);

  // Accepted: names odd but possible; real folders, folders still to be made,
  // a link as the file itself (the output replaces it) and a file where a
  // folder should be (its creation fails later).
  for (const char* path : {"x.wav", "music\\theme.wav", "a\\.\\b.wav", "..x.wav", "a..\\b...wav",
                           "ab:c.wav", "dir\\C:x.wav", "\xC3\xA9t\xC3\xA9.wav", "real\\deep\\x.wav",
                           "real\\new\\newer\\x.wav", "inner", "plain.txt\\x.wav"}) {
    std::string reason;
    EXPECT_TRUE(CheckOutputPath(path, &reason)) << '"' << path << "\": " << reason;
  }
  // Refused, with a reason that contains the second text.
  const std::pair<std::string, std::string> refusals[] = {
      {"", "empty path"},
      {"\\x.wav", "absolute path"},
      {"\\\\srv\\share\\x.wav", "network share"},
      {"C:\\x.wav", "drive prefix \"C:\""},
      {"z:x.wav", "drive prefix \"z:\""},
      {"..", "\"..\""},
      {"..\\x.wav", "\"..\""},
      {"a\\..\\x.wav", "\"..\""},
      {"a\\b\\..", "\"..\""},
      {"a/b.wav", "\"/\" is not allowed"},
      {"/etc/x.wav", "\"/\" is not allowed"},
      {"a\\", "empty file name"},
      {"a\\.", "\".\" is not a file name"},
      {"a\\\\b.wav", "two backslashes"},
      // Links are refused wherever they stand and wherever they point.
      {"inner\\x.wav", "parent directory \"inner\" is a symbolic link"},
      {"real\\away\\new\\x.wav", "parent directory \"real/away\" is a symbolic link"},
      {"inner\\deep\\x.wav", "\"inner\""},
      {"dangling\\x.wav", "\"dangling\""},
  };
  for (const auto& [path, reasonPart] : refusals) {
    std::string reason;
    EXPECT_FALSE(CheckOutputPath(path, &reason)) << '"' << path << '"';
    EXPECT_NE(reason.find(reasonPart), std::string::npos) << '"' << path << "\": " << reason;
  }
  fs::current_path(previous);
  const std::vector<std::string> before{"dangling", "inner/",     "plain.txt",
                                        "real/",    "real/away/", "real/deep/"};
  EXPECT_EQ(ListTree(dir.path), before) << "checking must not create anything";

  const MusicEntry good = PlainMusicEntry("real\\deep\\x.wav", MonoClip(), 1, 16);
  std::vector<PakEntrySource> sources{PakSource(good), PakSource(good)};
  sources[0].path = "inner\\x.wav";
  ASSERT_TRUE(WriteBytes(dir.path / "test.pak", BuildPak(sources, 0)));
  EXPECT_EQ(
      RunUnpak("test.pak", dir.path),
      (ProgramResult{1, ExpectedLine(good),
                     "unpak: entry 0 (inner\\x.wav): parent directory \"inner\" is a symbolic "
                     "link\nunpak: 1 of 2 entries failed\n"}));
  EXPECT_FALSE(fs::exists(dir.path / "real" / "x.wav"));

  // A folder opened for an output stays that folder: swapped for a link
  // before the output is placed, it still gets it; the link's target never.
  fs::current_path(dir.path);
  std::string reason;
  DirectoryHandle deep, again;
  ASSERT_TRUE(OpenParentDirectory("real/deep/y.wav", &deep, &reason)) << reason;
  fs::rename("real/deep", "real/old");
  fs::create_directory_symlink(outside.path, "real/deep");
  int fd = -1;
  PendingOutputPtr output = CreatePendingOutput(".", &fd, &reason);
  close(fd);
  EXPECT_TRUE(
      PlacePendingOutputIn(std::move(output), deep.fd, "y.wav", "real/deep/y.wav", &reason));
  EXPECT_TRUE(fs::exists("real/old/y.wav"));
  EXPECT_FALSE(OpenParentDirectory("real/deep/y.wav", &again, &reason));
  EXPECT_EQ(reason, "parent directory \"real/deep\" is a symbolic link");
  EXPECT_TRUE(fs::is_empty(outside.path));
  fs::current_path(previous);
}

}  // namespace

}  // namespace unpak
