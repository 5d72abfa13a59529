// pak mount through the real binary and the kernel: the folder shows what
// unpak writes, byte for byte, however it is read, and leaves nothing
// behind. Skipped where FUSE cannot be used.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/entry_expectation.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace unpak {

namespace {

namespace fs = std::filesystem;

// Why FUSE cannot be used here, or "".
std::string FuseMissing() {
  const int fuse = open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fuse < 0) return "/dev/fuse is missing or cannot be opened";
  close(fuse);
  if (RunTool({"fusermount3", "-V"}, "/").exitStatus != 0) return "fusermount3 is missing";
  return "";
}

bool IsMountPoint(const fs::path& path) {
  std::ifstream table("/proc/self/mountinfo");
  for (std::string line; std::getline(table, line);) {
    if (line.find(" " + path.string() + " ") != std::string::npos) return true;
  }
  return false;
}

// Live (not zombie) processes whose command line names `path`.
int ProcessesNaming(const fs::path& path) {
  int count = 0;
  for (const fs::directory_entry& process : fs::directory_iterator("/proc")) {
    std::ifstream cmdline(process.path() / "cmdline"), stat(process.path() / "stat");
    std::string arguments((std::istreambuf_iterator<char>(cmdline)), {}), state;
    std::getline(stat, state);
    const bool zombie = state.find(") Z") != std::string::npos;
    if (!zombie && arguments.find(path.string()) != std::string::npos) ++count;
  }
  return count;
}

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

// Every file and folder under `root` with its size (-1 for folders).
std::map<std::string, int64_t> Sizes(const fs::path& root) {
  std::map<std::string, int64_t> sizes;
  for (const fs::directory_entry& item : fs::recursive_directory_iterator(root)) {
    sizes[fs::relative(item.path(), root).string()] =
        item.is_directory() ? -1 : static_cast<int64_t>(item.file_size());
  }
  return sizes;
}

std::vector<uint8_t> ReadAt(int fd, size_t size, off_t offset) {
  std::vector<uint8_t> bytes(size);
  const ssize_t read = pread(fd, bytes.data(), size, offset);
  bytes.resize(read < 0 ? 0 : static_cast<size_t>(read));
  return bytes;
}

// Reads the file in blocks at random offsets in random order; true when
// every block equals the reference's.
bool SameAtRandomOffsets(const fs::path& file, const std::vector<uint8_t>& reference, unsigned seed) {
  const int fd = open(file.c_str(), O_RDONLY);
  std::mt19937 random(seed);
  bool same = fd >= 0;
  for (int i = 0; same && i < 64; ++i) {
    const size_t offset = random() % reference.size();
    const size_t size = 1 + random() % 70000;
    const size_t end = std::min(reference.size(), offset + size);
    same = ReadAt(fd, size, static_cast<off_t>(offset)) ==
           std::vector<uint8_t>(reference.begin() + offset, reference.begin() + end);
  }
  if (fd >= 0) close(fd);
  return same;
}

// A mixed archive, what unpak writes for it in ref/, a private temporary
// folder for the mount and an empty mount point.
struct MountFixture : testing::Test {
  TempDir dir;
  fs::path archive = dir.path / "mixed.pak", ref = dir.path / "ref", temporary = dir.path / "tmp",
           point = dir.path / "m";
  std::string refused;  // what pak mount must report

  void SetUp() override {
    const std::string missing = FuseMissing();
    if (!missing.empty()) GTEST_SKIP() << "FUSE cannot be used here: " << missing;
    MusicEntry damaged = PlainMusicEntry("sfx\\damaged.wav", MonoClip(), 1, 16);
    for (size_t i = 100; i < 400; ++i) damaged.mp3[i] = static_cast<uint8_t>(i * 37);
    damaged = WithParts(damaged, *damaged.cap);
    const MusicEntry theme = PlainMusicEntry("Music\\Theme.wav", StereoClip(), 2, 16);
    const MusicEntry door = PlainMusicEntry("sfx\\door.wav", MonoClip(), 1, 8);
    const MusicEntry later = PlainMusicEntry("sfx\\door.wav", StereoClip(), 2, 16, 32000);
    const PakEntrySource unsafe{"..\\outside.wav", door.target, door.payload};
    const PakEntrySource control{"bell\x07.wav", door.target, door.payload};
    ASSERT_TRUE(WriteBytes(archive, BuildPak({PakSource(theme), PakSource(door), unsafe,
                                              PakSource(damaged), control, PakSource(later)},
                                             0)));
    refused = "pak: entry 2 (..\\outside.wav): ";
    fs::create_directories(ref);
    fs::create_directories(temporary);
    fs::create_directories(point);
    ASSERT_EQ(RunUnpak(archive, ref).exitStatus, 1);
    setenv("TMPDIR", temporary.c_str(), 1);
  }

  void TearDown() override {
    if (IsMountPoint(point)) RunTool({"fusermount3", "-u", point.string()}, "/");
    unsetenv("TMPDIR");
  }

  // Unmounted, no process left, no file left in the temporary folder.
  void ExpectNothingLeft() {
    EXPECT_FALSE(IsMountPoint(point));
    EXPECT_TRUE(WaitFor([&] { return ProcessesNaming(point) == 0; }));
    EXPECT_TRUE(ListTree(temporary).empty());
  }
};

TEST_F(MountFixture, ShowsWhatUnpakWritesHoweverItIsRead) {
  const ProgramResult mounted = RunPak({"mount", archive, point}, dir.path);
  ASSERT_EQ(mounted.exitStatus, 0) << mounted.err;
  ASSERT_TRUE(IsMountPoint(point));
  // Each refused entry said once, as pak list says it; names with control
  // characters are refused as unpak refuses them.
  EXPECT_NE(mounted.err.find(refused), std::string::npos) << mounted.err;
  EXPECT_NE(mounted.err.find("pak: entry 4 (bell\\x07.wav): "), std::string::npos) << mounted.err;
  EXPECT_EQ(std::count(mounted.err.begin(), mounted.err.end(), '\n'), 2) << mounted.err;
  // Sizes before anything is read, then contents, whole and at random.
  EXPECT_EQ(Sizes(point), Sizes(ref));
  struct stat archiveInfo, fileInfo;
  ASSERT_EQ(stat(archive.c_str(), &archiveInfo), 0);
  ASSERT_EQ(stat((point / "Music/Theme.wav").c_str(), &fileInfo), 0);
  EXPECT_EQ(fileInfo.st_mtime, archiveInfo.st_mtime);
  const std::vector<std::string> files = {"Music/Theme.wav", "sfx/door.wav", "sfx/damaged.wav"};
  std::vector<std::thread> readers;
  std::vector<int> sameInThread(files.size() * 2);
  for (size_t i = 0; i < sameInThread.size(); ++i) {
    readers.emplace_back([&, i] {
      const std::string& file = files[i % files.size()];
      sameInThread[i] = SameAtRandomOffsets(point / file, ReadBytes(ref / file), i);
    });
  }
  for (std::thread& reader : readers) reader.join();
  for (size_t i = 0; i < sameInThread.size(); ++i) {
    EXPECT_TRUE(sameInThread[i]) << files[i % files.size()] << " read at random offsets";
  }
  for (const std::string& file : files) {
    EXPECT_EQ(ReadBytes(point / file), ReadBytes(ref / file)) << file;
  }
  EXPECT_EQ(RunPak({"unmount", point}, dir.path).exitStatus, 0);
  ExpectNothingLeft();
}

TEST_F(MountFixture, ReadsALongEntryFromItsEndOnAsUnpakWritesIt) {
  // Long enough to be decoded a segment at a time as it is read.
  static const EncodedClip clip = MakeEncodedClip(1, 44100, 44100 * 40, 9, 64);
  const fs::path longArchive = dir.path / "long.pak", longRef = dir.path / "long";
  ASSERT_TRUE(WriteBytes(longArchive,
                         BuildPak({PakSource(PlainMusicEntry("long.wav", clip, 1, 16))}, 0)));
  fs::create_directories(longRef);
  ASSERT_EQ(RunUnpak(longArchive, longRef).exitStatus, 0);
  const std::vector<uint8_t> reference = ReadBytes(longRef / "long.wav");
  ASSERT_EQ(RunPak({"mount", longArchive, point}, dir.path).exitStatus, 0);
  const int fd = open((point / "long.wav").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(ReadAt(fd, 4096, static_cast<off_t>(reference.size() - 4096)),
            std::vector<uint8_t>(reference.end() - 4096, reference.end()));
  close(fd);
  std::vector<int> same(2);
  std::vector<std::thread> readers;
  for (int i = 0; i < 2; ++i) {
    readers.emplace_back([&, i] { same[i] = SameAtRandomOffsets(point / "long.wav", reference, i); });
  }
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(same, std::vector<int>(2, 1));
  EXPECT_EQ(ReadBytes(point / "long.wav"), reference);
  EXPECT_EQ(RunPak({"unmount", point}, dir.path).exitStatus, 0);
  ExpectNothingLeft();
}

TEST_F(MountFixture, ForegroundMountEndsCleanlyOnSigterm) {
  std::vector<uint8_t> theme;
  const ProgramResult result =
      RunProgram(UNPAK_PAK_BINARY, {"pak", "mount", "-f", archive, point}, dir.path, [&](pid_t pak) {
        if (!WaitFor([&] { return IsMountPoint(point); })) return;
        theme = ReadBytes(point / "Music/Theme.wav");
        kill(pak, SIGTERM);
      });
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(theme, ReadBytes(ref / "Music/Theme.wav"));
  ExpectNothingLeft();
}

TEST_F(MountFixture, ReadsFailWithEioOnceTheArchiveShrinks) {
  ASSERT_EQ(RunPak({"mount", archive, point}, dir.path).exitStatus, 0);
  // The last entry: none is decoded ahead after it.
  const std::vector<uint8_t> door = ReadBytes(point / "sfx/door.wav");
  fs::resize_file(archive, fs::file_size(archive) / 2);
  const int fd = open((point / "Music/Theme.wav").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  char byte;
  EXPECT_EQ(read(fd, &byte, 1), -1);
  EXPECT_EQ(errno, EIO);
  close(fd);
  // What was decoded before still reads, and the mount is still there.
  EXPECT_EQ(ReadBytes(point / "sfx/door.wav"), door);
  EXPECT_EQ(door, ReadBytes(ref / "sfx/door.wav"));
  EXPECT_EQ(RunPak({"unmount", point}, dir.path).exitStatus, 0);
  ExpectNothingLeft();
}

TEST_F(MountFixture, MountErrorsAreReportedBeforeDetaching) {
  const ProgramResult noArchive = RunPak({"mount", dir.path / "none.pak", point}, dir.path);
  EXPECT_EQ(noArchive.exitStatus, 2);
  EXPECT_NE(noArchive.err.find("none.pak: cannot open"), std::string::npos) << noArchive.err;
  const ProgramResult noFolder = RunPak({"mount", archive, dir.path / "none"}, dir.path);
  EXPECT_EQ(noFolder.exitStatus, 2);
  EXPECT_NE(noFolder.err.find("none: No such file or directory"), std::string::npos)
      << noFolder.err;
  ExpectNothingLeft();
}

}  // namespace

}  // namespace unpak
