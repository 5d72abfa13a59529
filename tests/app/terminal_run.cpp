#include "tests/app/terminal_run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

// Only a guard against a program that never ends; no test depends on speed.
constexpr auto kHangLimit = std::chrono::seconds(60);

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
    ++count;
  }
  return count;
}

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
         a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME];
}

// Appends what the terminal holds, waiting up to `waitMs` for the first byte.
void ReadAvailable(int master, int waitMs, std::string* transcript) {
  pollfd fd{master, POLLIN, 0};
  char buffer[4096];
  while (poll(&fd, 1, waitMs) > 0) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) return;
    transcript->append(buffer, static_cast<size_t>(n));
    waitMs = 0;
  }
}

[[noreturn]] void RunChild(int slave, const std::vector<std::string>& argv,
                           const std::filesystem::path& cwd) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const int input = open("/dev/null", O_RDONLY);
  if (setsid() < 0 || ioctl(slave, TIOCSCTTY, 0) != 0 || input < 0 ||
      dup2(input, STDIN_FILENO) < 0 || dup2(slave, STDOUT_FILENO) < 0 ||
      dup2(slave, STDERR_FILENO) < 0 || chdir(cwd.c_str()) != 0) {
    _exit(127);
  }
  execvp(args[0], args.data());
  _exit(127);
}

}  // namespace

TerminalRun RunOnTerminal(const std::vector<std::string>& argv, const std::filesystem::path& cwd,
                          const std::string& prompt, const std::vector<std::string>& keys) {
  TerminalRun run;
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return run;
  termios start;
  tcgetattr(slave, &start);
  start.c_oflag &= ~ONLCR;
  tcsetattr(slave, TCSANOW, &start);
  tcgetattr(slave, &start);

  const pid_t pid = fork();
  if (pid == 0) {
    close(master);
    RunChild(slave, argv, cwd);
  }
  // The slave stays open here so that its settings can be read at the end.
  const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
  size_t typed = 0;
  int status = 0;
  bool ended = pid < 0;
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    ReadAvailable(master, 50, &run.transcript);
    if (typed < keys.size() && CountOf(run.transcript, prompt) > typed) {
      const std::string& key = keys[typed++];
      if (write(master, key.data(), key.size()) != static_cast<ssize_t>(key.size())) break;
    }
    ended = waitpid(pid, &status, WNOHANG) == pid;
  }
  run.finished = ended && pid > 0;
  if (!ended) {
    kill(-pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  // Everything written before the end is already in the terminal's buffer.
  ReadAvailable(master, 0, &run.transcript);

  if (run.finished) {
    if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.exitStatus = 128 + WTERMSIG(status);
  }
  termios end;
  run.settingsRestored = tcgetattr(slave, &end) == 0 && SameSettings(start, end);
  close(slave);
  close(master);
  return run;
}
