#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct ProgramResult {
  int exitStatus = -1;  // 0..255, or 128 + the signal that ended the program
  std::string out;
  std::string err;
};

// Runs `program` with the argument vector `argv` (argv[0] included) in the
// folder `cwd`, standard input from /dev/null, and collects both outputs.
ProgramResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& argv,
                         const std::filesystem::path& cwd);

#ifdef UNPAK_BINARY
// Runs the program under test as `unpak <args>`.
inline ProgramResult RunUnpak(const std::vector<std::string>& args,
                              const std::filesystem::path& cwd) {
  std::vector<std::string> argv{UNPAK_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(UNPAK_BINARY, argv, cwd);
}
#endif
