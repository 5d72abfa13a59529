#pragma once

// Runs a program with a new pseudo-terminal as its controlling terminal and
// standard output and error, standard input from /dev/null, and types keys
// at it as its prompts appear.

#include <filesystem>
#include <string>
#include <vector>

struct TerminalRun {
  int exitStatus = -1;      // 0..255, or 128 + the signal that ended it
  std::string transcript;   // everything the terminal was sent, byte for byte
  bool settingsRestored = false;  // the terminal's settings at the end are those at the start
  bool finished = false;    // false when it had to be killed (it hung)
};

// Step i of `keys` is typed, in one write, once `prompt` has appeared i + 1
// times. The terminal starts with the usual settings (line editing, echo,
// carriage return read as line feed), except that output line feeds are not
// turned into CR LF, so the transcript is exactly what was written.
TerminalRun RunOnTerminal(const std::vector<std::string>& argv, const std::filesystem::path& cwd,
                          const std::string& prompt, const std::vector<std::string>& keys);
