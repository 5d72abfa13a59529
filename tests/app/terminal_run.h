#pragma once

// Runs a program with a new pseudo-terminal as its controlling terminal and
// standard output and error, standard input from /dev/null, and types keys
// at it once its prompt appears.

#include <filesystem>
#include <string>
#include <vector>

struct TerminalRun {
  int exitStatus = -1;            // 0..255, or 128 + the signal that ended it
  std::string transcript;         // everything the terminal was sent, byte for byte
  bool settingsRestored = false;  // the terminal's settings at the end are those at the start
};

// `keys` are typed in one write when `prompt` first appears. The terminal
// has the usual settings (line editing, echo) except that output line feeds
// are not turned into CR LF, so the transcript is exactly what was written.
TerminalRun RunOnTerminal(const std::vector<std::string>& argv, const std::filesystem::path& cwd,
                          const std::string& prompt, const std::string& keys);
