// An archive whose entries aim outside the folder it is unpacked into: the
// program refuses each such entry by name, writes nothing outside, and still
// unpacks the rest.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/entry_expectation.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(OutputPathE2e, EntriesAimedOutsideTheFolderAreRefused) {
  TempDir dir, outside;  // siblings
  fs::create_directory_symlink(outside.path, dir.path / "link");
  const EncodedClip clip = MakeEncodedClip(1, 22050, 22050, 5, 64);
  const MusicEntry first = PlainMusicEntry("good\\first.wav", clip, 1, 16);
  const MusicEntry last = PlainMusicEntry("last.wav", clip, 1, 16);
  std::string absolute = (outside.path / "absolute.wav").string();
  std::replace(absolute.begin(), absolute.end(), '/', '\\');
  const std::pair<std::string, std::string> refused[] = {
      {absolute, "absolute path: it starts with a backslash"},
      {"..\\" + outside.path.filename().string() + "\\climb.wav",
       "path climbs out of the folder with \"..\""},
      {"link\\through.wav", "parent directory \"link\" is a symbolic link"},
      {"C:\\drive.wav", "absolute path: drive prefix \"C:\""},
  };
  std::vector<PakEntrySource> sources{PakSource(first)};
  std::string errors;
  for (const auto& [path, reason] : refused) {
    sources.push_back({path, MakePcmFormat(1, 22050, 16), first.payload});
    errors += "unpak: entry " + std::to_string(sources.size() - 1) + " (" + path + "): " + reason;
    errors += "\n";
  }
  sources.push_back(PakSource(last));
  ASSERT_TRUE(WriteBytes(dir.path / "test.pak", BuildPak(sources, 1 << 20)));

  const ProgramResult result = RunUnpak({"test.pak"}, dir.path);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, ExpectedLine(first) + ExpectedLine(last));
  EXPECT_EQ(result.err, errors + "unpak: 4 of 6 entries failed\n");
  CheckOutput(dir.path, first);
  CheckOutput(dir.path, last);
  EXPECT_EQ(ListTree(dir.path),
            (std::vector<std::string>{"good/", "good/first.wav", "last.wav", "link/", "test.pak"}));
  EXPECT_TRUE(fs::is_empty(outside.path));
}

}  // namespace
