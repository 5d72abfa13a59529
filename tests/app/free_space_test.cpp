// The free-space comparison, in a child process whose current directory is
// a tmpfs of known size and which has no controlling terminal.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "app/free_space.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr int kNotPermitted = 77;

bool WriteText(const char* path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

// A private mount namespace; one inside a new user namespace, with the user
// mapped to root there, where the process may not make one otherwise.
bool EnterMountNamespace() {
  if (unshare(CLONE_NEWNS) == 0) return true;
  const std::string uid = std::to_string(getuid());
  const std::string gid = std::to_string(getgid());
  return unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 &&
         WriteText("/proc/self/setgroups", "deny") &&
         WriteText("/proc/self/uid_map", "0 " + uid + " 1") &&
         WriteText("/proc/self/gid_map", "0 " + gid + " 1");
}

struct ChildRun {
  int status = -1;
  std::string out;
};

// Runs `body` in a child on a new tmpfs of `size` (a mount option), in a
// private mount namespace and a new session; collects its standard output.
// Nothing when mount namespaces are not permitted here.
std::optional<ChildRun> RunOnTmpfs(const std::string& size, const std::function<int()>& body) {
  TempDir dir;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return ChildRun{};
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipeFds[0]);
    const std::string options = "size=" + size;
    if (setsid() < 0 || !EnterMountNamespace() ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", dir.path.c_str(), "tmpfs", 0, options.c_str()) != 0 ||
        chdir(dir.path.c_str()) != 0 || dup2(pipeFds[1], STDOUT_FILENO) < 0) {
      _exit(kNotPermitted);
    }
    const int result = body();
    std::fflush(stdout);
    _exit(result);
  }
  close(pipeFds[1]);
  ChildRun run;
  char buffer[4096];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
    run.out.append(buffer, static_cast<size_t>(n));
  }
  close(pipeFds[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return run;
  run.status = WEXITSTATUS(status);
  if (run.status == kNotPermitted) return std::nullopt;
  return run;
}

#define RUN_OR_SKIP(run, size, body)                                                     \
  const std::optional<ChildRun> run = RunOnTmpfs(size, body);                            \
  if (!run) GTEST_SKIP() << "this process may not mount a tmpfs in a private mount namespace"

// Fills the current directory's file system to the last byte.
bool FillUp(size_t bytes) {
  std::ofstream out("fill", std::ios::binary);
  out << std::string(bytes, '\0');
  out.close();
  return static_cast<bool>(out);
}

const std::string kPrompt = "Continue anyway?(y/N): ";

TEST(FreeSpace, EnoughRoomAnswersYesWithoutAWord) {
  // 320 KiB free: the exact amount is enough.
  RUN_OR_SKIP(exact, "320k", [] { return CheckFreeSpace(327680) && CheckFreeSpace(0) ? 1 : 0; });
  EXPECT_EQ(exact->status, 1);
  EXPECT_EQ(exact->out, "");

  // Nothing free at all, nothing needed.
  RUN_OR_SKIP(full, "320k", [] { return FillUp(327680) && CheckFreeSpace(0) ? 1 : 0; });
  EXPECT_EQ(full->status, 1);
  EXPECT_EQ(full->out, "");

  // 4 GiB or more free covers any size an archive can state.
  RUN_OR_SKIP(huge, "5g", [] { return CheckFreeSpace(0xFFFFFFFFu) ? 1 : 0; });
  EXPECT_EQ(huge->status, 1);
  EXPECT_EQ(huge->out, "");
}

TEST(FreeSpace, ShortageWithoutTerminalAsksOnceAndAnswersNo) {
  RUN_OR_SKIP(one, "320k", [] { return CheckFreeSpace(327681) ? 1 : 0; });
  EXPECT_EQ(one->status, 0);
  EXPECT_EQ(one->out,
            "Not enough free disk space.\nYou have 327680 bytes free.\n"
            "You need 327681 bytes to unpack.\n" + kPrompt + "\n");

  // Sizes of 2 GiB and more show as positive numbers.
  RUN_OR_SKIP(big, "320k", [] { return FillUp(327680) && !CheckFreeSpace(0x80000000u) ? 1 : 0; });
  EXPECT_EQ(big->status, 1);
  EXPECT_EQ(big->out,
            "Not enough free disk space.\nYou have 0 bytes free.\n"
            "You need 2147483648 bytes to unpack.\n" + kPrompt + "\n");
}

}  // namespace
