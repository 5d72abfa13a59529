#pragma once

// Single-key reads from the controlling terminal: no Enter needed, each key
// code echoed to the terminal as it is read.

#include <termios.h>

#include <memory>

namespace unpak {

struct TerminalKeys {
  int fd = -1;
  termios saved{};  // the settings to put back
};
struct TerminalKeysCloser {
  void operator()(TerminalKeys* keys) const;
};
using TerminalKeysPtr = std::unique_ptr<TerminalKeys, TerminalKeysCloser>;

// Opens /dev/tty and sets it for single-key reads until the result goes
// away; a signal that ends the run puts the settings back too. Null when the
// process has no controlling terminal or it cannot be set.
TerminalKeysPtr OpenTerminalKeys();

// Reads one key code (0..255) and echoes it; -1 at end of input or on error.
int ReadKeyWithEcho(const TerminalKeys& keys);

}  // namespace unpak
