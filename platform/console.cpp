#include "platform/console.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>

namespace {

bool StdoutIsTerminal() {
  static const bool terminal = isatty(STDOUT_FILENO) == 1;
  return terminal;
}

}  // namespace

void ConsolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  if (StdoutIsTerminal()) std::fflush(stdout);
}

void ConsoleError(const char* format, ...) {
  // Keep the transcript in order when both streams go to the same place.
  std::fflush(stdout);
  std::fputs("unpak: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}
