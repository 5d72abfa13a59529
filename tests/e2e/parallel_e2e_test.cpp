// Unpacking on every core must be indistinguishable from unpacking in
// order on one: the same files, transcript, messages and status; and the
// surroundings a run meets (closed descriptors, a closed pipe, a file size
// limit, an archive that shrinks mid-run) never leave pending files.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "run/unpack_archive.h"
#include "tests/e2e/entry_expectation.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_bytes.h"

namespace unpak {

namespace {

// Mixed entries: PCM and encoded targets, failures, duplicate paths, a path
// that is a file for one entry and a folder for a later one, deep paths,
// long entries.
std::vector<uint8_t> MixedArchive() {
  std::vector<PakEntrySource> sources;
  const MusicEntry stereo = PlainMusicEntry("x.wav", StereoClip(), 2, 16);
  MusicEntry mulaw = PlainMusicEntry("x.wav", MonoClip(), 1, 16);
  mulaw.target = MakeFormatBlock({7, 1, 22050, 22050, 1, 8, 0});
  const MusicEntry mono8 = PlainMusicEntry("x.wav", MonoClip(), 1, 8, 11025);
  const char* paths[] = {"a.wav", "dup.wav",       "d\\e\\f\\g.wav", "dup.wav",
                         "clash", "clash\\in.wav", "..\\out.wav",    "h\\i.wav",
                         "j.wav", "k\\l\\m.wav"};
  for (size_t i = 0; i < std::size(paths); ++i) {
    PakEntrySource source = PakSource(i % 3 == 0 ? stereo : i % 3 == 1 ? mulaw : mono8);
    source.path = paths[i];
    sources.push_back(source);
  }
  sources[8].payload.resize(40);  // no "data" chunk
  // Long entries last, where workers run out of entries and decode their
  // segments: one whole, one 8-bit and capped inside a segment with chunks
  // around its audio.
  static const EncodedClip longClip = MakeEncodedClip(2, 32000, 32000 * 40, 9, 48);
  sources.push_back(PakSource(PlainMusicEntry("long.wav", longClip, 2, 16)));
  sources.push_back(PakSource(WithParts(PlainMusicEntry("long8.wav", longClip, 1, 8), 1100001,
                                        {{"LIST", {1, 2, 3}}}, {{"cue ", {4, 5}}})));
  return BuildPak(sources, 1 << 20);
}

TEST(Parallel, GivesWhatTheSerialRunGives) {
  const std::vector<uint8_t> archive = MixedArchive();
  const std::vector<std::vector<std::string>> serialAndParallel[] = {
      {{"/usr/bin/taskset", "-c", "0", UNPAK_BINARY, "test.pak"}, {UNPAK_BINARY, "test.pak"}},
      {{UNPAK_PAK_BINARY, "extract", "-j", "1", "test.pak"},
       {UNPAK_PAK_BINARY, "extract", "-j", "4", "test.pak"}},
      {{UNPAK_PAK_BINARY, "test", "-j", "1", "test.pak"},
       {UNPAK_PAK_BINARY, "test", "-j", "3", "test.pak"}},
  };
  for (const auto& runs : serialAndParallel) {
    TempDir serial;
    TempDir parallel;
    ASSERT_TRUE(WriteBytes(serial.path / "test.pak", archive));
    ASSERT_TRUE(WriteBytes(parallel.path / "test.pak", archive));
    const ProgramResult expected = RunProgram(runs[0][0], runs[0], serial.path);
    EXPECT_EQ(expected.exitStatus, 1) << expected.err;
    EXPECT_EQ(RunProgram(runs[1][0], runs[1], parallel.path), expected);
    const std::vector<std::string> files = ListTree(serial.path);
    ASSERT_EQ(ListTree(parallel.path), files);
    for (const std::string& file : files) {
      if (file.back() != '/') {
        EXPECT_EQ(ReadBytes(parallel.path / file), ReadBytes(serial.path / file)) << file;
      }
    }
  }
}

// `count` 16-bit entries of `clip`, 0.wav then 1.wav, 2.wav, ... in `folder`,
// written to `dir`/test.pak; returns the archive.
std::vector<uint8_t> WriteArchive(const std::filesystem::path& dir, int count,
                                  const std::string& folder = "",
                                  const EncodedClip& clip = StereoClip()) {
  std::vector<PakEntrySource> sources;
  for (int i = 0; i < count; ++i) {
    const std::string name = (i == 0 ? "" : folder) + std::to_string(i) + ".wav";
    sources.push_back(PakSource(PlainMusicEntry(name, clip, clip.channels, 16)));
  }
  std::vector<uint8_t> archive = BuildPak(sources, 0);
  EXPECT_TRUE(WriteBytes(dir / "test.pak", archive));
  return archive;
}

// Runs unpak on `dir`/test.pak, stopped once its first output stands for
// `change` to be made.
ProgramResult UnpakChangedMidRun(const std::filesystem::path& dir,
                                 const std::function<void()>& change) {
  const auto stopped = [&](pid_t pid) {
    for (int tries = 0; tries < 20000 && !std::filesystem::exists(dir / "0.wav"); ++tries) {
      usleep(50);
    }
    kill(pid, SIGSTOP);
    change();
    kill(pid, SIGCONT);
  };
  return RunProgram(UNPAK_BINARY, {"unpak", "test.pak"}, dir, stopped);
}

// Every pending file is gone and every output of WriteArchive's that
// stands is whole.
void ExpectOnlyWholeOutputs(const std::filesystem::path& dir) {
  for (const std::string& name : ListTree(dir)) {
    EXPECT_EQ(name.find(".unpak-"), std::string::npos) << name;
    if (name == "test.pak" || name.back() == '/') continue;
    MusicEntry entry = PlainMusicEntry(name, StereoClip(), 2, 16);
    EXPECT_EQ(OutputAudio(dir, entry).size(), ExpectOutput(entry).audio.size()) << name;
  }
}

TEST(Surroundings, NeverLeavePendingFilesOrMixTheTranscriptIntoOutputs) {
  TempDir dir;
  WriteArchive(dir.path, 40);
  const std::string unpak = UNPAK_BINARY;
  const struct {
    std::string script;
    int status;
    bool asNobody = false;
  } cases[] = {
      // Closed standard descriptors: the transcript goes nowhere, not into a file.
      {"exec \"$0\" test.pak <&- >&- 2>&-", 0},
      // A reader that goes away: the run ends as the closed pipe ends it.
      {"\"$0\" test.pak | head -c 40 >/dev/null", 0},
      // A file size limit below one output.
      {"ulimit -f 200; exec \"$0\" test.pak", 128 + SIGXFSZ},
      // A process limit that lets no worker thread start, or one. (A leak
      // check at exit, in a sanitizer build, needs a thread of its own.)
      {"export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0; exec setpriv "
       "--reuid=65534 --regid=65534 --clear-groups prlimit --nproc=1 \"$0\" test.pak",
       0, true},
      {"exec setpriv --reuid=65534 --regid=65534 --clear-groups prlimit --nproc=2 \"$0\" test.pak",
       0, true},
  };
  const bool nobodyCanRun = NobodyCanRun(unpak);
  std::filesystem::permissions(dir.path, std::filesystem::perms::all);  // for the limited user
  for (const auto& c : cases) {
    if (c.asNobody && !nobodyCanRun) {
      std::cout << "skipped, as user nobody cannot run " << unpak << ": " << c.script << "\n";
      continue;
    }
    const ProgramResult result = RunProgram("/bin/sh", {"sh", "-c", c.script, unpak}, dir.path);
    EXPECT_EQ(result.exitStatus, c.status) << c.script << "\n" << result.err;
    ExpectOnlyWholeOutputs(dir.path);
    for (const auto& file : std::filesystem::directory_iterator(dir.path)) {
      if (file.path().filename() != "test.pak") std::filesystem::remove(file.path());
    }
  }
}

TEST(Surroundings, AnArchiveThatShrinksMidRunFailsTheEntryNotTheProcess) {
  TempDir dir;
  // When the first output stands, each worker may have converted two entries
  // ahead; the archive holds twice that and more, so the half it loses holds
  // entries not begun yet however many cores there are.
  const int ahead = static_cast<int>(AvailableCores()) * 2 + 1;
  const std::vector<uint8_t> archive = WriteArchive(dir.path, 2 * ahead + 30);
  // The archive loses its second half.
  const ProgramResult result = UnpakChangedMidRun(
      dir.path, [&] { std::filesystem::resize_file(dir.path / "test.pak", archive.size() / 2); });
  EXPECT_EQ(result.exitStatus, 255) << result.err;
  EXPECT_NE(result.err.find("cannot read the archive test.pak any more"), std::string::npos)
      << result.err;
  ExpectOnlyWholeOutputs(dir.path);
  for (const std::string& name : ListTree(dir.path)) {
    EXPECT_TRUE(name == "test.pak" ||
                result.out.find("Decompressing " + name + " : ") != std::string::npos)
        << name;
  }
}

TEST(Surroundings, AFolderSwappedForALinkMidRunIsNotWrittenThrough) {
  TempDir dir;
  TempDir outside;
  // Enough short entries that the run is still going when stopped, however
  // late the stop comes on a loaded machine.
  WriteArchive(dir.path, 300, "d\\", MonoClip());
  std::filesystem::create_directory(dir.path / "d");
  // "d" becomes a link to a folder outside.
  const ProgramResult result = UnpakChangedMidRun(dir.path, [&] {
    std::filesystem::rename(dir.path / "d", dir.path / "old-d");
    std::filesystem::create_directory_symlink(outside.path, dir.path / "d");
  });
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.err.find("is a symbolic link"), std::string::npos) << result.err;
  EXPECT_EQ(ListTree(outside.path), std::vector<std::string>{}) << result.out;
}

}  // namespace

}  // namespace unpak
