// Bad entries among good ones: each is reported on standard error and
// leaves nothing at its path; the good ones are written; the run ends with
// a count of the failures.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "tests/e2e/entry_expectation.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_bytes.h"

namespace {

// A payload whose source format has the 16-bit field at `offset` zeroed.
std::vector<uint8_t> SourceWithZeroAt(size_t offset) {
  FormatBlock format = ClipSourceFormat(MonoClip());
  StoreLe16(format.data() + offset, 0);
  return BuildRiffWave({{"fmt ", format}, {"skee", Le32(88200)}, {"data", MonoClip().mp3.bytes}});
}

TEST(BadEntries, AreReportedAndSkippedWhileTheRestIsWritten) {
  TempDir dir;
  const MusicEntry first = PlainMusicEntry("good\\first.wav", MonoClip(), 1, 16);
  MusicEntry last = PlainMusicEntry("last.wav", MonoClip(), 2, 16);
  // The archive ends in bytes that are not NUL, for a name that runs off it.
  AppendBytes(&last.payload, Text("TAIL"));
  AppendBytes(&last.after, Text("TAIL"));
  // An encoded entry, and a user's own temp.wav that is no scratch file.
  MusicEntry mulaw = PlainMusicEntry("mulaw.wav", MonoClip(), 1, 16);
  mulaw.target = MakeFormatBlock({7, 1, 22050, 22050, 1, 8, 0});
  ASSERT_TRUE(WriteBytes(dir.path / "temp.wav", Text("mine")));

  const FormatBlock pcm = first.target;
  const std::vector<uint8_t>& good = first.payload;
  const RiffChunk data{"data", MonoClip().mp3.bytes};
  const struct {
    PakEntrySource source;
    std::string lineBody;  // after "Decompressing <path> : ", or "none" for no line
    std::string reason;    // a part of the error line besides the entry's index and path
  } bad[] = {
      {{"unterminated.wav", pcm, good}, "none", ""},
      {{"outside.wav", pcm, good}, "none", ""},
      {{"cbsize.wav", pcm, good}, "none", ""},
      {{"nofmt.wav", pcm, BuildRiffWave({{"skee", Le32(8)}, data})}, "Can't find format chunk\n", ""},
      {{"shortfmt.wav", pcm, BuildRiffWave({{"fmt ", {0x55}}})}, "Can't read format chunk\n", ""},
      {{"nodata.wav", pcm, BuildRiffWave({{"fmt ", ClipSourceFormat(MonoClip())}})}, "", ""},
      {{"pcmsource.wav", pcm, BuildRiffWave({{"fmt ", pcm}, data})}, "", ""},
      {{"blocksize0.wav", pcm, SourceWithZeroAt(24)}, "", ""},
      {{"blockalign0.wav", pcm, SourceWithZeroAt(12)}, "", ""},
      {{"width.wav", MakePcmFormat(1, 22050, 12), good}, "", ""},
      {{"msadpcm.wav", MakeFormatBlock({2, 1, 22050, 11155, 512, 4, 2}), good}, "", "0x0002"},
      {{"gsmstereo.wav", MakeFormatBlock({0x31, 2, 22050, 8960, 130, 0, 2}), good}, "", "GSM 6.10"},
      // Fails only when the finished file is moved into place.
      {{"taken.wav", pcm, good}, std::string(ExpectOutput(first).marks, '#'), ""},
      {{"plain.txt\\inside.wav", pcm, good}, "", ""},
  };
  // Something already at a bad entry's path stays as it was.
  ASSERT_TRUE(WriteBytes(dir.path / "width.wav", Text("keep me")));
  std::filesystem::create_directory(dir.path / "taken.wav");
  ASSERT_TRUE(WriteBytes(dir.path / "plain.txt", Text("a file, not a folder")));

  std::vector<PakEntrySource> sources{PakSource(first)};
  std::string transcript = ExpectedLine(first);
  for (const auto& entry : bad) {
    sources.push_back(entry.source);
    if (entry.lineBody != "none") {
      transcript += "Decompressing " + entry.source.path + " : " + entry.lineBody + "\n";
    }
  }
  sources.push_back(PakSource(mulaw));
  sources.push_back(PakSource(last));
  std::vector<uint8_t> pak = BuildPak(sources, 1 << 20);
  uint8_t* const table = pak.data() + LoadLe32(pak.data() + 8);
  StoreLe32(table + 34 + 4, static_cast<uint32_t>(pak.size() - 4 - LoadLe32(pak.data() + 12)));
  StoreLe32(table + 34 * 2 + 8, static_cast<uint32_t>(pak.size()));
  StoreLe16(table + 34 * 3 + 12 + 16, 5);
  ASSERT_TRUE(WriteBytes(dir.path / "test.pak", pak));

  const ProgramResult result = RunUnpak({"test.pak"}, dir.path);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, transcript + ExpectedLine(mulaw) + ExpectedLine(last));
  // One line per bad entry, naming its index (and its path when it can be
  // read), then the count.
  std::istringstream errors(result.err);
  std::string line;
  for (size_t i = 0; i < std::size(bad) && std::getline(errors, line); ++i) {
    EXPECT_EQ(line.rfind("unpak: entry " + std::to_string(i + 1), 0), 0u) << line;
    if (i > 0) {
      EXPECT_NE(line.find(bad[i].source.path), std::string::npos) << line;
    }
    EXPECT_NE(line.find(bad[i].reason), std::string::npos) << line;
  }
  std::getline(errors, line);
  EXPECT_EQ(line, "unpak: 14 of 17 entries failed") << result.err;

  CheckOutput(dir.path, first);
  CheckOutput(dir.path, last);
  EXPECT_EQ(OutputAudio(dir.path, mulaw).size(), ExpectOutput(mulaw).audio.size() / 2);
  EXPECT_EQ(ReadBytes(dir.path / "width.wav"), Text("keep me"));
  EXPECT_EQ(ReadBytes(dir.path / "temp.wav"), Text("mine"));
  EXPECT_EQ(ListTree(dir.path),
            (std::vector<std::string>{"good/", "good/first.wav", "last.wav", "mulaw.wav", "plain.txt",
                                      "taken.wav/", "temp.wav", "test.pak", "width.wav"}));
}

}  // namespace
