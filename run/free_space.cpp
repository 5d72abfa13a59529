#include "run/free_space.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/console.h"
#include "run/terminal_key.h"

namespace unpak {

namespace {

// Bytes an unprivileged user may still write on the file system holding the
// current directory; false when it cannot be asked.
bool FreeBytesHere(uint64_t* free) {
  struct statvfs info;
  if (statvfs(".", &info) != 0) return false;
  const uint64_t blocks = info.f_bavail;
  const uint64_t blockSize = info.f_frsize;
  const uint64_t most = std::numeric_limits<uint64_t>::max();
  *free = blockSize != 0 && blocks > most / blockSize ? most : blocks * blockSize;
  return true;
}

// Asks until the answer is y/Y (true) or n/N/line feed (false), which ends
// the line. Every other code, carriage return included, asks again right
// after its echo. Without
// a terminal or a key to read the answer is no, on a line of its own.
// The prompt is program output, on standard output; the key is read from
// and echoed to the controlling terminal, so at a terminal the echo lands
// right after the prompt, and standard input is never consumed.
bool AskToContinue() {
  const TerminalKeysPtr keys = OpenTerminalKeys();
  for (;;) {
    ConsolePrint("Continue anyway?(y/N): ");
    // The key's echo goes to the terminal; the prompt must be there first.
    std::fflush(stdout);
    const int code = keys ? ReadKeyWithEcho(*keys) : -1;
    // The answer ends the question's line; a line feed's echo ends it already.
    if (code == 'y' || code == 'Y' || code == 'n' || code == 'N') ConsolePrint("\n");
    if (code == 'y' || code == 'Y') return true;
    if (code == 'n' || code == 'N' || code == '\n') return false;
    if (code < 0) {
      ConsolePrint("\n");
      return false;
    }
  }
}

}  // namespace

bool CheckFreeSpace(uint64_t needed) {
  uint64_t freeBytes = 0;
  if (!FreeBytesHere(&freeBytes)) {
    // Unknown is not short: the check only warns of a likely failure.
    ConsoleError("cannot tell the free space of the current directory: %s", std::strerror(errno));
    return true;
  }
  if (freeBytes >= needed) return true;
  ConsolePrint(
      "Not enough free disk space.\nYou have %llu bytes free.\nYou need %llu bytes to unpack.\n",
      static_cast<unsigned long long>(freeBytes), static_cast<unsigned long long>(needed));
  return AskToContinue();
}

}  // namespace unpak
