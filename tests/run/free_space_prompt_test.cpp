// The free-space check as a user meets it: unpak runs on a tmpfs of 320 KiB
// in a private mount namespace, with archives that state how much they need,
// its output on a pseudo-terminal where keys are typed at the prompt. The
// entry goes into a folder that is another tmpfs, so its finished file is
// copied across file systems into place.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/entry_expectation.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace unpak {

namespace {

// Mounts the tmpfs on $1 and another on its folder "sub", and runs the rest
// of the arguments (unpak or pak extract on an archive) in $1, with "y" lines
// on standard input (which it must not read); then lists both and says if the
// terminal's settings were not restored. An interrupt must end the program,
// not the shell, so the listing still follows.
constexpr const char* kScript =
    "trap : INT TERM HUP\n"
    "mount -t tmpfs -o size=320k tmpfs \"$1\" && cd \"$1\" && shift && mkdir sub &&\n"
    "  mount -t tmpfs tmpfs sub || exit 99\n"
    "settings() { stty -g < /dev/tty; } 2> /dev/null\n"
    "saved=$(settings)\n"
    "yes | \"$@\"\n"
    "status=$?\n"
    "ls -A . sub\n"
    "[ \"$saved\" = \"$(settings)\" ] || echo terminal settings changed\n"
    "exit $status\n";

// Runs `argv` with a new pseudo-terminal as its standard output and error
// (and as its controlling terminal if `controlling`), standard input from
// /dev/null; types `keys` in one write once `prompt` appears. Returns the
// exit status (128 + the signal that ended it) and all that the terminal was
// sent, exactly, as output line feeds are not turned into CR LF.
int RunOnTerminal(const std::vector<std::string>& argv, bool controlling, const std::string& prompt,
                  const std::string& keys, std::string* transcript) {
  int master = -1, slave = -1;
  termios settings;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return -1;
  tcgetattr(slave, &settings);
  settings.c_oflag &= ~ONLCR;
  tcsetattr(slave, TCSANOW, &settings);
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const bool attached = controlling ? login_tty(slave) == 0
                                      : setsid() >= 0 && dup2(slave, 1) == 1 && dup2(slave, 2) == 2;
    if (attached && dup2(open("/dev/null", O_RDONLY), 0) == 0) execvp(args[0], args.data());
    _exit(127);
  }
  close(slave);
  // Reading ends when every holder of the terminal has closed it. 30 s of
  // silence end the program: only a guard against a hang, no test of speed.
  bool typed = false;
  pollfd fd{master, POLLIN, 0};
  char buffer[4096];
  while (pid > 0) {
    if (poll(&fd, 1, 30000) <= 0) kill(-pid, SIGKILL);
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    transcript->append(buffer, static_cast<size_t>(n));
    if (!typed && transcript->find(prompt) != std::string::npos) {
      typed = write(master, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
    }
  }
  close(master);
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

TEST(FreeSpacePrompt, ShortageAsksOnTheTerminal) {
  TempDir dir;
  const std::string small = dir.path / "small", pak = dir.path / "test.pak";
  ASSERT_TRUE(std::filesystem::create_directory(small));
  const std::string unshare = MountNamespaceOption();
  if (unshare.empty()) GTEST_SKIP() << "this process may not mount a tmpfs in a private namespace";
  const EncodedClip clip = MakeEncodedClip(1, 22050, 22050, 7, 48);
  const MusicEntry song = PlainMusicEntry("sub\\song.wav", clip, 1, 16);
  const std::string line = ExpectedLine(song);
  const MusicEntry big = PlainMusicEntry("big.wav", StereoClip(), 2, 16);  // 352844 bytes
  const std::string prompt = "Continue anyway?(y/N): ";
  const std::string asked =
      "Not enough free disk space.\nYou have 327680 bytes free.\n"
      "You need 4294967295 bytes to unpack.\n" +
      prompt;
  const struct {
    uint32_t needed;
    bool controlling;
    std::string keys, out;
    int status;
    const MusicEntry* entry = nullptr;  // song's by default
    bool pak = false;                   // pak extract, which counts only what it writes
  } cases[] = {
      {0xFFFFFFFFu, true, "xY", asked + "x" + prompt + "Y\n" + line, 0},  // asked again on one line
      {0xFFFFFFFFu, true, "\ry", asked + "\r" + prompt + "y\n" + line, 0},  // Enter asks again too
      {0xFFFFFFFFu, true, "\x1b[Ay",                                        // code by code
       asked + "^[" + prompt + "[" + prompt + "A" + prompt + "y\n" + line, 0},
      {0xFFFFFFFFu, true, "n", asked + "n\n", 255},
      {0xFFFFFFFFu, true, "\n", asked + "\n", 255},  // Ctrl+J gives line feed: no
      {0xFFFFFFFFu, true, "\x03", asked, 128 + SIGINT},
      {0xFFFFFFFFu, false, "", asked + "\n", 255},  // no terminal to ask: no
      {327680, true, "", line, 0},
      {0, true, "", line, 0},  // exactly the free space is enough
      {0xFFFFFFFFu, true, "", line, 0, nullptr, true},
      {0, true, "n", std::regex_replace(asked, std::regex("4294967295"), "352844") + "n\n", 1, &big,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.keys) + " needing " + std::to_string(c.needed));
    ASSERT_TRUE(WriteBytes(pak, BuildPak({PakSource(c.entry ? *c.entry : song)}, c.needed)));
    std::vector<std::string> command{"unshare", unshare, "sh", "-c", kScript, "sh", small};
    if (c.pak) command.insert(command.end(), {UNPAK_PAK_BINARY, "extract"});
    if (!c.pak) command.push_back(UNPAK_BINARY);
    command.push_back(pak);
    std::string transcript;
    EXPECT_EQ(RunOnTerminal(command, c.controlling, prompt, c.keys, &transcript), c.status);
    EXPECT_EQ(transcript, c.out + ".:\nsub\n\nsub:\n" + (c.status ? "" : "song.wav\n"));
  }
}

}  // namespace

}  // namespace unpak
