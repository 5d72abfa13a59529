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
#include "tests/support/expected_wave.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

const EncodedClip& Clip() {
  static const EncodedClip clip = MakeEncodedClip(2, 44100, 44100, 9, 96);
  return clip;
}

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

FormatBlock SourceFormatWith(size_t offset, uint16_t value) {
  FormatBlock format = ClipSourceFormat(Clip());
  StoreLe16(format.data() + offset, value);
  return format;
}

std::vector<uint8_t> SkeeOf(const EncodedClip& clip) {
  return Le32(static_cast<uint32_t>(clip.samples.size() * 2));
}

struct BadEntry {
  PakEntrySource source;
  std::string lineBody;  // what the entry's line holds after "Decompressing <path> : "
  bool listed = true;          // the entry gets a "Decompressing" line
};

TEST(BadEntries, AreReportedAndSkippedWhileTheRestIsWritten) {
  TempDir dir;
  const EncodedClip& clip = Clip();
  const std::vector<uint8_t> mp3 = clip.mp3.bytes;
  const FormatBlock target = MakePcmFormat(2, 44100, 16);

  MusicEntry first = PlainMusicEntry("good\\first.wav", clip, 2, 16);
  MusicEntry last = PlainMusicEntry("last.wav", clip, 1, 16);
  // The archive ends in bytes that are not NUL, for a name that runs off it.
  AppendBytes(&last.payload, Text("TAIL"));
  AppendBytes(&last.after, Text("TAIL"));

  std::vector<BadEntry> bad{
      {{"unterminated.wav", target, first.payload}, "", false},
      {{"outside.wav", target, first.payload}, "", false},
      {{"cbsize.wav", target, first.payload}, "", false},
      {{"nofmt.wav", target, BuildRiffWave({{"skee", SkeeOf(clip)}, {"data", mp3}})},
       "Can't find format chunk\n"},
      {{"shortfmt.wav", target, BuildRiffWave({{"fmt ", Text("\x55\0\2\0\x44\xAC\0\0")}})},
       "Can't read format chunk\n"},
      {{"nodata.wav", target,
        BuildRiffWave({{"fmt ", ClipSourceFormat(clip)}, {"skee", SkeeOf(clip)}, {"LIST", Text("INFO")}})},
       ""},
      {{"pcmsource.wav", target,
        BuildRiffWave({{"fmt ", PcmFmtBytes(2, 44100, 16)}, {"skee", SkeeOf(clip)}, {"data", mp3}})},
       ""},
      {{"blocksize0.wav", target,
        BuildRiffWave({{"fmt ", SourceFormatWith(24, 0)}, {"skee", SkeeOf(clip)}, {"data", mp3}})},
       ""},
      {{"blockalign0.wav", target,
        BuildRiffWave({{"fmt ", SourceFormatWith(12, 0)}, {"skee", SkeeOf(clip)}, {"data", mp3}})},
       ""},
      {{"width.wav", MakePcmFormat(2, 44100, 12), first.payload}, ""},
      // Fails only when the finished file is moved into place.
      {{"taken.wav", target, first.payload}, std::string(ExpectOutput(first).marks, '#')},
      {{"plain.txt\\inside.wav", target, first.payload}, ""},
  };
  // Something already at a bad entry's path stays as it was.
  ASSERT_TRUE(WriteBytes(dir.path / "width.wav", Text("keep me")));
  std::filesystem::create_directory(dir.path / "taken.wav");
  ASSERT_TRUE(WriteBytes(dir.path / "plain.txt", Text("a file, not a folder")));

  std::vector<PakEntrySource> sources{PakSource(first)};
  for (const BadEntry& entry : bad) sources.push_back(entry.source);
  sources.push_back(PakSource(last));
  std::vector<uint8_t> pak = BuildPak(sources, 1 << 20);
  const uint32_t nameTable = LoadLe32(pak.data() + 12);
  PatchLe32(&pak, EntryRecordOffset(pak, 1) + 4, static_cast<uint32_t>(pak.size() - 4 - nameTable));
  PatchLe32(&pak, EntryRecordOffset(pak, 2) + 8, static_cast<uint32_t>(pak.size()));
  PatchLe16(&pak, EntryRecordOffset(pak, 3) + 12 + 16, 5);
  ASSERT_TRUE(WriteBytes(dir.path / "test.pak", pak));

  const ProgramResult result = RunUnpak({"test.pak"}, dir.path);
  EXPECT_EQ(result.exitStatus, 1);

  std::string transcript = ExpectedLine(first);
  for (const BadEntry& entry : bad) {
    if (entry.listed) {
      transcript += "Decompressing " + entry.source.path + " : " + entry.lineBody + "\n";
    }
  }
  transcript += ExpectedLine(last);
  EXPECT_EQ(result.out, transcript);

  // One line per bad entry, naming its index (and its path when it can be
  // read), then the count.
  const std::vector<std::string> errors = Lines(result.err);
  ASSERT_EQ(errors.size(), bad.size() + 1) << result.err;
  for (size_t i = 0; i < bad.size(); ++i) {
    const std::string& line = errors[i];
    EXPECT_EQ(line.rfind("unpak: ", 0), 0u) << line;
    EXPECT_NE(line.find("entry " + std::to_string(i + 1)), std::string::npos) << line;
    if (i > 0) {
      EXPECT_NE(line.find(bad[i].source.path), std::string::npos) << line;
    }
  }
  EXPECT_EQ(errors.back(), "unpak: " + std::to_string(bad.size()) + " of " +
                               std::to_string(sources.size()) + " entries failed");

  CheckOutput(dir.path, first);
  CheckOutput(dir.path, last);
  EXPECT_EQ(ReadBytes(dir.path / "width.wav"), Text("keep me"));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path / "taken.wav"));
  EXPECT_EQ(ListTree(dir.path),
            (std::vector<std::string>{"good/", "good/first.wav", "last.wav", "plain.txt",
                                      "taken.wav/", "test.pak", "width.wav"}));
}

}  // namespace
