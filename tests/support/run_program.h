#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace unpak {

struct ProgramResult {
  int exitStatus = -1;  // 0..255, or 128 + the signal that ended the program
  std::string out;
  std::string err;

  bool operator==(const ProgramResult&) const = default;
  friend void PrintTo(const ProgramResult& result, std::ostream* os) {
    *os << "status " << result.exitStatus << ", out \"" << result.out << "\", err \"" << result.err
        << '"';
  }
};

// Runs `program` with the argument vector `argv` (argv[0] included) in the
// folder `cwd`, standard input from /dev/null, and collects both outputs.
// `meanwhile`, when given, is called with the program's process id once it
// has started, and the program is waited for when it returns.
ProgramResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& argv,
                         const std::filesystem::path& cwd,
                         const std::function<void(pid_t)>& meanwhile = nullptr);

// The option of unshare(1) that lets a program mount a tmpfs in a private
// namespace (as root a mount namespace will do; otherwise a user namespace
// that maps the user to root as well), or "" if neither works here.
std::string MountNamespaceOption();

// Whether the process `pid` has a file open under `dir` that is not one of
// `inputs` (paths relative to `dir`) and has been written to: an output on
// its way, named or not.
bool WritingAnOutput(pid_t pid, const std::filesystem::path& dir,
                     const std::vector<std::string>& inputs);

// Runs a program found on the PATH, such as sox, ffmpeg or mpg123.
inline ProgramResult RunTool(std::vector<std::string> argv, const std::filesystem::path& cwd) {
  argv.insert(argv.begin(), "env");
  return RunProgram("/usr/bin/env", argv, cwd);
}

// Whether user nobody may run `program`, for the tests that run it as that
// user under a process limit; a build inside a private home folder (root's
// own, say) is out of its reach, and those tests are then skipped.
inline bool NobodyCanRun(const std::string& program) {
  return RunTool({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "test", "-x",
                  program},
                 "/")
             .exitStatus == 0;
}

#ifdef UNPAK_BINARY
// Runs the program under test as `unpak <archive>`.
inline ProgramResult RunUnpak(const std::string& archive, const std::filesystem::path& cwd) {
  return RunProgram(UNPAK_BINARY, {UNPAK_BINARY, archive}, cwd);
}
#endif

#ifdef UNPAK_PAK_BINARY
// Runs `pak` with `arguments`.
inline ProgramResult RunPak(std::vector<std::string> arguments, const std::filesystem::path& cwd) {
  arguments.insert(arguments.begin(), "pak");
  return RunProgram(UNPAK_PAK_BINARY, arguments, cwd);
}
#endif

}  // namespace unpak
