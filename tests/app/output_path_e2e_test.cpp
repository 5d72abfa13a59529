// An archive whose entries aim outside the folder it is unpacked into: the
// program refuses each such entry by name, writes nothing outside, and still
// unpacks the rest.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/entry_expectation.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The local path written the way an archive spells it.
std::string ArchiveSpelling(const fs::path& path) {
  std::string text = path.string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

TEST(OutputPathE2e, EntriesAimedOutsideTheFolderAreRefused) {
  TempDir dir;
  TempDir outside;  // a sibling of `dir`
  const EncodedClip clip = MakeEncodedClip(1, 22050, 22050, 5, 64);
  const MusicEntry first = PlainMusicEntry("good\\first.wav", clip, 1, 16);
  const MusicEntry last = PlainMusicEntry("last.wav", clip, 1, 16);
  fs::create_directory_symlink(outside.path, dir.path / "link");

  const std::vector<std::string> badPaths{
      ArchiveSpelling(outside.path / "absolute.wav"),
      "..\\" + outside.path.filename().string() + "\\climb.wav",
      "link\\through.wav",
      "C:\\drive.wav",
  };
  std::vector<PakEntrySource> sources{PakSource(first)};
  for (const std::string& path : badPaths) {
    sources.push_back({path, MakePcmFormat(1, 22050, 16), first.payload});
  }
  sources.push_back(PakSource(last));
  ASSERT_TRUE(WriteBytes(dir.path / "test.pak", BuildPak(sources, 1 << 20)));

  const ProgramResult result = RunUnpak({"test.pak"}, dir.path);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, ExpectedLine(first) + ExpectedLine(last));

  const std::vector<std::string> errors = Lines(result.err);
  ASSERT_EQ(errors.size(), badPaths.size() + 1) << result.err;
  const std::vector<std::string> reasons{"absolute path", "\"..\"", "\"link\" is a symbolic link",
                                         "absolute path"};
  for (size_t i = 0; i < badPaths.size(); ++i) {
    const std::string prefix = "unpak: entry " + std::to_string(i + 1) + " (" + badPaths[i] + "): ";
    EXPECT_EQ(errors[i].rfind(prefix, 0), 0u) << errors[i];
    EXPECT_NE(errors[i].find(reasons[i]), std::string::npos) << errors[i];
  }
  EXPECT_EQ(errors.back(), "unpak: 4 of 6 entries failed");

  CheckOutput(dir.path, first);
  CheckOutput(dir.path, last);
  EXPECT_EQ(ListTree(dir.path),
            (std::vector<std::string>{"good/", "good/first.wav", "last.wav", "link/", "test.pak"}));
  EXPECT_TRUE(fs::is_empty(outside.path));
}

}  // namespace
