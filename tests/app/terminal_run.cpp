#include "tests/app/terminal_run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

namespace {

// Silence this long ends the program: only a guard against a hang; no test
// depends on speed.
constexpr int kSilenceLimitMs = 30000;

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
         a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME];
}

[[noreturn]] void RunChild(int slave, const std::vector<std::string>& argv,
                           const std::filesystem::path& cwd) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const int input = open("/dev/null", O_RDONLY);
  if (login_tty(slave) == 0 && input >= 0 && dup2(input, STDIN_FILENO) == 0 && chdir(cwd.c_str()) == 0) {
    execvp(args[0], args.data());
  }
  _exit(127);
}

}  // namespace

TerminalRun RunOnTerminal(const std::vector<std::string>& argv, const std::filesystem::path& cwd,
                          const std::string& prompt, const std::string& keys) {
  TerminalRun run;
  int master = -1, slave = -1;
  termios start;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return run;
  tcgetattr(slave, &start);
  start.c_oflag &= ~ONLCR;
  tcsetattr(slave, TCSANOW, &start);
  const pid_t pid = fork();
  if (pid == 0) RunChild(slave, argv, cwd);
  close(slave);
  // Reading ends when every holder of the terminal's other side has closed it.
  bool typed = false;
  pollfd fd{master, POLLIN, 0};
  char buffer[4096];
  while (pid > 0) {
    if (poll(&fd, 1, kSilenceLimitMs) <= 0) kill(-pid, SIGKILL);
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    run.transcript.append(buffer, static_cast<size_t>(n));
    if (!typed && run.transcript.find(prompt) != std::string::npos) {
      typed = write(master, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
    }
  }
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid) {
    run.exitStatus = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  }
  // The master reports the settings of the terminal side.
  termios end;
  run.settingsRestored = tcgetattr(master, &end) == 0 && SameSettings(start, end);
  close(master);
  return run;
}
