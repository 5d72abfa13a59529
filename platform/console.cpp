#include "platform/console.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>

#include "platform/utf8_text.h"

namespace unpak {

namespace {

const char* programName = "unpak";
thread_local ConsoleCapture* capture = nullptr;
FILE* transcript = stdout;

bool StdoutIsTerminal() {
  static const bool terminal = isatty(STDOUT_FILENO) == 1;
  return terminal;
}

}  // namespace

void SetConsoleProgramName(const char* name) { programName = name; }

ScopedConsoleCapture::ScopedConsoleCapture(ConsoleCapture& next) : previous_(capture) {
  capture = &next;
}

ScopedConsoleCapture::~ScopedConsoleCapture() { capture = previous_; }

void SendTranscriptToStandardError() { transcript = stderr; }

void FinishConsoleCapture(ConsoleCapture& capture) {
  std::lock_guard<std::mutex> lock(capture.mutex);
  capture.finished = true;
  capture.changed.notify_all();
}

void ShowConsoleCapture(ConsoleCapture& capture) {
  std::unique_lock<std::mutex> lock(capture.mutex);
  size_t shown = 0;
  for (;;) {
    if (shown < capture.text.size()) {
      const std::string more = capture.text.substr(shown);
      shown = capture.text.size();
      lock.unlock();
      ConsolePrint("%s", more.c_str());
      lock.lock();
    } else if (capture.finished) {
      return;
    } else {
      capture.changed.wait(lock);
    }
  }
}

void ConsolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (capture != nullptr) {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length > 0) {
      std::string text(static_cast<size_t>(length) + 1, '\0');
      std::vsnprintf(text.data(), text.size(), format, args);
      std::lock_guard<std::mutex> lock(capture->mutex);
      capture->text.append(text.data(), static_cast<size_t>(length));
    }
    capture->changed.notify_all();
  } else {
    std::vfprintf(transcript, format, args);
    if (transcript == stdout && StdoutIsTerminal()) std::fflush(stdout);
  }
  va_end(args);
}

void ConsoleEndLine(const char* text) {
  std::fputs(text, transcript);
  std::fflush(transcript);
}

void ConsoleError(const char* format, ...) {
  // Keep the transcript in order when both streams go to the same place.
  std::fflush(stdout);
  std::fprintf(stderr, "%s: ", programName);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

std::string DisplayName(const std::string& name) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(name.data());
  std::string shown;
  for (size_t at = 0; at < name.size();) {
    const size_t length = Utf8SequenceLength(bytes + at, name.size() - at);
    if (length > 0 && !IsControlSequence(bytes + at, length)) {
      shown.append(name, at, length);
      at += length;
      continue;
    }
    // A control, or a byte of no well-formed sequence (a legacy code page's).
    for (const size_t end = at + (length > 0 ? length : 1); at < end; ++at) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", bytes[at]);
      shown += escaped;
    }
  }
  return shown;
}

}  // namespace unpak
