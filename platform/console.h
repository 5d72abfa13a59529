#pragma once

// Console output. Messages the user reads as the run's own transcript go to
// standard output; errors go to standard error prefixed with the program's
// name. Standard output is flushed after every message when it is a terminal.
// A run whose standard output carries data sends its transcript to standard
// error instead.

#include <condition_variable>
#include <mutex>
#include <string>

namespace unpak {

// The name that prefixes error messages ("unpak" unless set).
void SetConsoleProgramName(const char* name);

// From now on the transcript goes to standard error.
void SendTranscriptToStandardError();

void ConsolePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ConsoleError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Ends a transcript line: prints `text` and flushes the transcript whatever
// it goes to, so a run that is killed keeps every line it printed.
void ConsoleEndLine(const char* text);

// What ConsolePrint put out on a thread while the capture was set there:
// an entry's transcript while it is decoded, shown when its turn comes.
struct ConsoleCapture {
  std::mutex mutex;
  std::condition_variable changed;  // notified after each append and when finished
  std::string text;
  bool finished = false;
};
// Captures ConsolePrint on this thread into `capture` while it lives; what
// was set before is set again when it goes.
class ScopedConsoleCapture {
 public:
  explicit ScopedConsoleCapture(ConsoleCapture& capture);
  ~ScopedConsoleCapture();
  ScopedConsoleCapture(const ScopedConsoleCapture&) = delete;
  ScopedConsoleCapture& operator=(const ScopedConsoleCapture&) = delete;

 private:
  ConsoleCapture* previous_;
};

// Marks `capture` finished. Notified under its lock: once it sees the
// capture finished, the thread showing it may destroy it.
void FinishConsoleCapture(ConsoleCapture& capture);

// Prints what `capture` holds as it grows, until it is finished.
void ShowConsoleCapture(ConsoleCapture& capture);

// A text from a file (a path, a name, a chunk ID) as it may be shown on a
// terminal: printable UTF-8 stays as it is; controls (C0, DEL, C1) and bytes
// of no well-formed UTF-8 sequence show as \xNN.
std::string DisplayName(const std::string& name);

}  // namespace unpak
