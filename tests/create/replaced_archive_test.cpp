// What `pak create` and `pak update` do to the file at the archive's path
// and around it: what they refuse to replace, what they keep of the file
// they replace, and what is left when two run at once or one is killed.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace unpak {

namespace fs = std::filesystem;

namespace {

void MakeTone(const fs::path& dir, const std::string& name, const std::string& seconds) {
  ASSERT_EQ(RunTool({"sox", "-n", "-r", "22050", "-c", "1", "-b", "16", name, "synth", seconds,
                     "sine", "300-2000"},
                    dir)
                .exitStatus,
            0);
}

std::string Listing(const fs::path& dir, const std::string& archive) {
  return RunPak({"list", archive}, dir).out;
}

struct stat StatOf(const fs::path& path) {
  struct stat info {};
  lstat(path.c_str(), &info);
  return info;
}

TEST(ReplacedArchive, OnlyAMissingPathOrAWritableRegularFileIsReplaced) {
  TempDir dir;
  MakeTone(dir.path, "s.wav", "0.2");
  ASSERT_EQ(RunPak({"create", "a.pak", "s.wav"}, dir.path).exitStatus, 0);
  const struct {
    std::string make;  // a shell command
    std::vector<std::string> args;
    std::string problem;  // after "pak: "
  } cases[] = {
      {"mknod null c 1 3", {"create", "null", "s.wav"}, "null: is a character device"},
      {"ln -s /dev/null devlink", {"create", "devlink", "s.wav"}, "devlink: is a character device"},
      {"mkfifo f", {"update", "-o", "f", "a.pak", "s.wav"}, "f: is a FIFO"},
      {"mkdir d", {"create", "d", "s.wav"}, "d: is a folder"},
      {"ln -s missing dangling",
       {"create", "dangling", "s.wav"},
       "dangling: it is a symbolic link to nothing"},
      {"cp a.pak ro.pak && chmod 444 ro.pak",
       {"update", "ro.pak", "s.wav"},
       "ro.pak: it is read-only"},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(RunTool({"sh", "-c", c.make}, dir.path).exitStatus, 0) << c.make;
    const std::string target = c.args[c.args.size() - 2 - (c.args[1] == "-o" ? 1 : 0)];
    const struct stat before = StatOf(dir.path / target);
    const ProgramResult result = RunPak(c.args, dir.path);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.out, "") << "nothing is encoded";
    EXPECT_NE(result.err.find("pak: " + c.problem), std::string::npos) << result.err;
    const struct stat after = StatOf(dir.path / target);
    EXPECT_EQ(after.st_ino, before.st_ino) << target;
    EXPECT_EQ(after.st_mode, before.st_mode) << target;
  }
  // A read-only archive is read to write the new one elsewhere.
  EXPECT_EQ(RunPak({"update", "-o", "b.pak", "ro.pak", "s.wav"}, dir.path).exitStatus, 0);
}

TEST(ReplacedArchive, KeepsItsModeOwnerAndGroupAndALinkToIt) {
  TempDir dir;
  for (const char* name : {"a.wav", "b.wav", "c.wav", "d.wav"}) MakeTone(dir.path, name, "0.2");
  ASSERT_EQ(RunPak({"create", "a.pak", "a.wav"}, dir.path).exitStatus, 0);
  const fs::path archive = dir.path / "a.pak";
  ASSERT_EQ(chmod(archive.c_str(), 0600), 0);
  ASSERT_EQ(RunPak({"update", "a.pak", "b.wav"}, dir.path).exitStatus, 0);
  EXPECT_EQ(StatOf(archive).st_mode & 07777, 0600u);
  // As root, another owner and group are kept too.
  if (geteuid() == 0) {
    ASSERT_EQ(chmod(archive.c_str(), 0640), 0);
    ASSERT_EQ(chown(archive.c_str(), 65534, 65534), 0);
    ASSERT_EQ(RunPak({"create", "a.pak", "a.wav", "b.wav"}, dir.path).exitStatus, 0);
    EXPECT_EQ(StatOf(archive).st_mode & 07777, 0640u);
    EXPECT_EQ(StatOf(archive).st_uid, 65534u);
    EXPECT_EQ(StatOf(archive).st_gid, 65534u);
  }
  // A link is followed: the archive it names is updated, and it stays a link.
  fs::create_symlink("a.pak", dir.path / "link.pak");
  ASSERT_EQ(RunPak({"update", "link.pak", "c.wav"}, dir.path).exitStatus, 0);
  EXPECT_TRUE(fs::is_symlink(dir.path / "link.pak"));
  EXPECT_NE(Listing(dir.path, "a.pak").find("c.wav"), std::string::npos);
  ASSERT_EQ(RunPak({"update", "-o", "link.pak", "a.pak", "d.wav"}, dir.path).exitStatus, 0);
  EXPECT_TRUE(fs::is_symlink(dir.path / "link.pak"));
  EXPECT_NE(Listing(dir.path, "a.pak").find("d.wav"), std::string::npos);
  EXPECT_EQ(ListTree(dir.path),
            (std::vector<std::string>{"a.pak", "a.wav", "b.wav", "c.wav", "d.wav", "link.pak"}));
}

TEST(ReplacedArchive, TwoUpdatesAtOnceBothCount) {
  TempDir dir;
  for (const char* name : {"a.wav", "x.wav", "y.wav"}) MakeTone(dir.path, name, "3");
  ASSERT_EQ(RunPak({"create", "a.pak", "a.wav"}, dir.path).exitStatus, 0);
  const ProgramResult both =
      RunTool({"sh", "-c",
               "\"$0\" update a.pak x.wav & \"$0\" update a.pak y.wav; s=$?; wait $! && exit $s",
               UNPAK_PAK_BINARY},
              dir.path);
  EXPECT_EQ(both.exitStatus, 0) << both.err;
  const std::string listed = Listing(dir.path, "a.pak");
  for (const char* name : {"a.wav", "x.wav", "y.wav"})
    EXPECT_NE(listed.find(name), std::string::npos) << name << " in\n" << listed;
}

TEST(ReplacedArchive, AKilledRunLeavesNothingBehind) {
  TempDir dir;
  for (const char* name : {"a.wav", "b.wav"}) MakeTone(dir.path, name, "30");
  ASSERT_EQ(RunPak({"create", "long.pak", "a.wav"}, dir.path).exitStatus, 0);
  const std::vector<std::string> inputs = ListTree(dir.path);
  const std::vector<std::vector<std::string>> runs = {
      // One entry encoded after another, so that the archive is being
      // written for most of the run.
      {UNPAK_PAK_BINARY, "pak", "create", "-j", "1", "new.pak", "a.wav", "b.wav"},
      {UNPAK_PAK_BINARY, "pak", "update", "-j", "1", "long.pak", "b.wav"},
      {UNPAK_BINARY, "unpak", "long.pak"},
  };
  for (const auto& run : runs) {
    const auto kill9 = [&](pid_t pid) {
      for (int tries = 0; tries < 20000 && !WritingAnOutput(pid, dir.path, inputs); ++tries)
        usleep(500);
      kill(pid, SIGKILL);
    };
    const std::vector<std::string> argv(run.begin() + 1, run.end());
    EXPECT_EQ(RunProgram(run[0], argv, dir.path, kill9).exitStatus, 128 + SIGKILL) << run[2];
    EXPECT_EQ(ListTree(dir.path), inputs) << run[2];
  }
}

}  // namespace

}  // namespace unpak
