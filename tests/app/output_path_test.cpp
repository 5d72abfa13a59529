// Which output paths an archive may write at: the form of the path, then
// symbolic links on the way to its folder.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/output_path.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct Refusal {
  std::string path;
  std::string reasonPart;  // a phrase the reason must contain
};

// Runs the checks with `dir` as the current directory.
struct InDirectory {
  explicit InDirectory(const fs::path& dir) : previous(fs::current_path()) { fs::current_path(dir); }
  ~InDirectory() { fs::current_path(previous); }
  fs::path previous;
};

TEST(OutputPath, AcceptsRelativePathsAndRefusesTheRestByForm) {
  TempDir dir;
  InDirectory inside(dir.path);

  for (const std::string path : {"x.wav", "music\\theme.wav", "a\\b\\c\\d.wav", "a\\.\\b.wav",
                                 "..x.wav", "a..\\b...wav", ".hidden", "C", "ab:c.wav",
                                 "1:x.wav", "dir\\C:x.wav", "sp ace\\\xC3\xA9t\xC3\xA9.wav"}) {
    std::string reason;
    EXPECT_TRUE(CheckOutputPath(path, &reason)) << path << ": " << reason;
  }

  const std::vector<Refusal> refusals{
      {"", "empty path"},
      {"\\x.wav", "absolute path"},
      {"\\", "absolute path"},
      {"\\\\server\\share\\x.wav", "network share"},
      {"C:\\x.wav", "drive prefix \"C:\""},
      {"z:x.wav", "drive prefix \"z:\""},
      {"..", "\"..\""},
      {"..\\x.wav", "\"..\""},
      {"a\\..\\x.wav", "\"..\""},
      {"a\\b\\..", "\"..\""},
      {"a/b.wav", "\"/\" is not allowed"},
      {"../x.wav", "\"/\" is not allowed"},
      {"/etc/x.wav", "\"/\" is not allowed"},
      {"a\\", "empty file name"},
      {".", "\".\" is not a file name"},
      {"a\\.", "\".\" is not a file name"},
      {"a\\\\b.wav", "two backslashes"},
  };
  for (const Refusal& refusal : refusals) {
    std::string reason;
    EXPECT_FALSE(CheckOutputPath(refusal.path, &reason)) << refusal.path;
    EXPECT_NE(reason.find(refusal.reasonPart), std::string::npos)
        << "\"" << refusal.path << "\": " << reason;
  }
  EXPECT_TRUE(fs::is_empty(dir.path)) << "checking must not create anything";
}

TEST(OutputPath, RefusesFoldersReachedThroughSymbolicLinks) {
  TempDir dir;
  TempDir outside;
  fs::create_directories(dir.path / "real" / "deep");
  fs::create_directory_symlink(dir.path / "real", dir.path / "inner");
  fs::create_directory_symlink(outside.path, dir.path / "real" / "away");
  fs::create_symlink("missing", dir.path / "dangling");
  std::ofstream(dir.path / "plain.txt") << "a file";
  InDirectory inside(dir.path);

  // Links are refused wherever they stand and wherever they point.
  const std::vector<Refusal> refusals{
      {"inner\\x.wav", "parent directory \"inner\" is a symbolic link"},
      {"inner\\deep\\x.wav", "\"inner\""},
      {"real\\away\\x.wav", "parent directory \"real/away\" is a symbolic link"},
      {"real\\away\\new\\x.wav", "\"real/away\""},
      {"dangling\\x.wav", "\"dangling\""},
  };
  for (const Refusal& refusal : refusals) {
    std::string reason;
    EXPECT_FALSE(CheckOutputPath(refusal.path, &reason)) << refusal.path;
    EXPECT_NE(reason.find(refusal.reasonPart), std::string::npos)
        << "\"" << refusal.path << "\": " << reason;
  }

  // Real folders, folders still to be made, a link as the file itself (the
  // output replaces it), and a file where a folder should be (its creation
  // fails later) all pass.
  for (const std::string path : {"real\\deep\\x.wav", "real\\new\\newer\\x.wav", "inner",
                                 "real\\away", "plain.txt\\x.wav"}) {
    std::string reason;
    EXPECT_TRUE(CheckOutputPath(path, &reason)) << path << ": " << reason;
  }
  EXPECT_TRUE(fs::is_empty(outside.path));
}

}  // namespace
