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
  const MusicEntry good = PlainMusicEntry("good\\first.wav", clip, 1, 16);
  std::string absolute = (outside.path / "absolute.wav").string();
  std::replace(absolute.begin(), absolute.end(), '/', '\\');
  const std::pair<std::string, std::string> refused[] = {
      {absolute, "absolute path: it starts with a backslash"},
      {"..\\" + outside.path.filename().string() + "\\climb.wav",
       "path climbs out of the folder with \"..\""},
      {"link\\through.wav", "parent directory \"link\" is a symbolic link"},
  };
  std::vector<PakEntrySource> sources;
  std::string errors;
  for (const auto& [path, reason] : refused) {
    errors += "unpak: entry " + std::to_string(sources.size()) + " (" + path + "): " + reason + "\n";
    sources.push_back({path, good.target, good.payload});
  }
  sources.push_back(PakSource(good));  // the run goes on after the refusals
  ASSERT_TRUE(WriteBytes(dir.path / "test.pak", BuildPak(sources, 1 << 20)));

  const ProgramResult result = RunUnpak({"test.pak"}, dir.path);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, ExpectedLine(good));
  EXPECT_EQ(result.err, errors + "unpak: 3 of 4 entries failed\n");
  EXPECT_EQ(ListTree(dir.path),
            (std::vector<std::string>{"good/", "good/first.wav", "link/", "test.pak"}));
  EXPECT_TRUE(fs::is_empty(outside.path));
}

}  // namespace
