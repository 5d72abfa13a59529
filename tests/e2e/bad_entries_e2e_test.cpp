// Bad entries among good ones: each is reported on standard error and
// leaves nothing at its path; the good ones are written; the run ends with
// a count of the failures.

#include <gtest/gtest.h>
#include <sys/resource.h>

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

namespace unpak {

namespace {

TEST(BadEntries, AreReportedAndSkippedWhileTheRestIsWritten) {
  TempDir dir;
  const MusicEntry first = PlainMusicEntry("good\\first.wav", MonoClip(), 1, 16);
  const MusicEntry last = PlainMusicEntry("last.wav", MonoClip(), 2, 16);

  const FormatBlock pcm = first.target;
  const std::vector<uint8_t>& good = first.payload;
  const RiffChunk data{"data", MonoClip().mp3};
  const std::string marks(ExpectOutput(first).marks, '#');
  FormatBlock noAlign = ClipSourceFormat(MonoClip());
  StoreLe16(noAlign.data() + 12, 0);  // nBlockAlign
  const struct {
    PakEntrySource source;
    std::string lineBody;    // after "Decompressing <path> : ", or "none" for no line
    std::string reason;      // a part of the error line besides the entry's index and path
    std::string shown = "";  // the path as messages show it, when it differs
  } bad[] = {
      {{"outside.wav", pcm, good},
       "none",
       "runs past the end of the file"},  // its payload lies beyond the archive
      {{"nofmt.wav", pcm, BuildRiffWave({{"skee", Le32(8)}, data})},
       "Can't find format chunk\n",
       "the payload has no \"fmt \" chunk"},
      {{"shortfmt.wav", pcm, BuildRiffWave({{"fmt ", {0x55}}})},
       "Can't read format chunk\n",
       "\"fmt \" chunk is shorter than 18 bytes"},
      {{"nodata.wav", pcm, BuildRiffWave({{"fmt ", ClipSourceFormat(MonoClip())}})},
       "",
       "the payload has no \"data\" chunk"},
      {{"blockalign0.wav", pcm, BuildRiffWave({{"fmt ", noAlign}, data})},
       "",
       "nBlockSize or nBlockAlign is 0"},
      {{"width.wav", MakePcmFormat(1, 22050, 12), good}, "", "12 bits per sample"},
      {{"msadpcm.wav", MakeFormatBlock({2, 1, 22050, 11155, 512, 4, 2}), good}, "", "0x0002"},
      // These fail only when the finished file is moved into place.
      {{"taken.wav", pcm, good}, marks, "Is a directory"},
      {{"plain.txt\\inside.wav", pcm, good}, marks, "Not a directory"},
      {{"test.pak", pcm, good}, marks, "is the archive being read"},
      // Names no genuine archive holds, shown escaped.
      {{"\x1b[2J\x7f.wav", pcm, good}, "none", "control character", "\\x1b[2J\\x7f.wav"},
      {{"two\nlines.wav", pcm, good}, "none", "control character", "two\\x0alines.wav"},
  };
  // Something already at a bad entry's path stays as it was.
  ASSERT_TRUE(WriteBytes(dir.path / "width.wav", Text("keep me")));
  std::filesystem::create_directory(dir.path / "taken.wav");
  ASSERT_TRUE(WriteBytes(dir.path / "plain.txt", Text("a file, not a folder")));

  std::vector<PakEntrySource> sources{PakSource(first)};
  std::string transcript = ExpectedLine(first);
  for (const auto& entry : bad) {
    sources.push_back(entry.source);
    if (entry.lineBody == "none") continue;
    transcript += "Decompressing " + entry.source.path + " : " + entry.lineBody + "\n";
  }
  sources.push_back(PakSource(last));
  std::vector<uint8_t> pak = BuildPak(sources, 1 << 20);
  StoreLe32(pak.data() + LoadLe32(pak.data() + 8) + 34 + 8, static_cast<uint32_t>(pak.size()));
  ASSERT_TRUE(WriteBytes(dir.path / "test.pak", pak));

  const ProgramResult result = RunUnpak({"test.pak"}, dir.path);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, transcript + ExpectedLine(last));
  // One line per bad entry, naming its index and its path, then the count.
  std::istringstream errors(result.err);
  std::string line;
  for (size_t i = 0; i < std::size(bad) && std::getline(errors, line); ++i) {
    const std::string shown = bad[i].shown.empty() ? bad[i].source.path : bad[i].shown;
    const std::string prefix = "unpak: entry " + std::to_string(i + 1) + " (" + shown;
    EXPECT_EQ(line.rfind(prefix + "): ", 0), 0u) << line;
    EXPECT_NE(line.find(bad[i].reason), std::string::npos) << line;
  }
  EXPECT_TRUE(std::getline(errors, line) && line == "unpak: 12 of 14 entries failed") << result.err;

  CheckOutput(dir.path, first);
  CheckOutput(dir.path, last);
  EXPECT_EQ(ReadBytes(dir.path / "width.wav"), Text("keep me"));
  EXPECT_EQ(ListTree(dir.path),
            (std::vector<std::string>{"good/", "good/first.wav", "last.wav", "plain.txt",
                                      "taken.wav/", "test.pak", "width.wav"}));
}

// AddressSanitizer (GCC's or clang's) reserves terabytes of address space:
// no limit on that can be set for it.
#if defined(__SANITIZE_ADDRESS__)
#define UNPAK_ADDRESS_SANITIZER
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNPAK_ADDRESS_SANITIZER
#endif
#endif

TEST(BadEntries, TakeBoundedMemoryWhateverTheirFormatSays) {
  TempDir dir;
  // Half a second of 8 kHz MP3 whose format claims blocks of 65535 bytes, to
  // come out as 96 kHz 32-bit stereo: buffers of 1.65 GB if taken at its
  // word. It runs under a limit, and its peak is measured.
  const EncodedClip clip = MakeEncodedClip(1, 8000, 4000, 3, 8);
  MusicEntry huge = PlainMusicEntry("huge.wav", clip, 2, 32, 96000);
  FormatBlock format = ClipSourceFormat(clip);
  StoreLe16(format.data() + 24, 65535);  // nBlockSize
  huge.payload = BuildEntryPayload({format, {}, *huge.cap, {}, clip.mp3, {}});
  const MusicEntry last = PlainMusicEntry("last.wav", MonoClip(), 1, 16);
  ASSERT_TRUE(WriteBytes(dir.path / "test.pak", BuildPak({PakSource(huge), PakSource(last)}, 0)));

#ifdef UNPAK_ADDRESS_SANITIZER
  const std::string limit;
#else
  const std::string limit = "ulimit -v 1000000 && ";
#endif
  const ProgramResult result =
      RunProgram("/bin/sh", {"sh", "-c", limit + "exec \"$0\" test.pak", UNPAK_BINARY}, dir.path);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(OutputAudio(dir.path, huge).size(), *huge.cap);
  CheckOutput(dir.path, last);
  EXPECT_EQ(ListTree(dir.path), (std::vector<std::string>{"huge.wav", "last.wav", "test.pak"}));
  rusage usage{};
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
  EXPECT_LT(usage.ru_maxrss, 64 * 1024);  // KiB
}

}  // namespace

}  // namespace unpak
