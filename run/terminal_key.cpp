#include "run/terminal_key.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/interrupt_cleanup.h"

namespace unpak {

namespace {

// What the interrupt hook puts back; set before the terminal is changed.
int restoreFd = -1;
termios restoreSettings{};

void RestoreOnInterrupt() { tcsetattr(restoreFd, TCSANOW, &restoreSettings); }

// Key by key, unchanged: no line editing, no echo by the terminal (the
// reader echoes each code as it takes it, so typed-ahead keys show in
// order), carriage return and line feed kept apart, and no flow-control or
// literal-next keys swallowed. Ctrl+C and the like still raise signals.
termios SingleKeySettings(const termios& saved) {
  termios settings = saved;
  settings.c_iflag &= ~(ICRNL | INLCR | IGNCR | IXON);
  settings.c_lflag &= ~(ICANON | ECHO | IEXTEN);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  return settings;
}

bool WriteAll(int fd, const char* bytes, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Control codes other than tab, carriage return and line feed show in caret
// form (escape as "^["): sent raw they would start control sequences
// together with the text printed next.
void Echo(int fd, unsigned char code) {
  const bool control =
      (code < 0x20 && code != '\t' && code != '\r' && code != '\n') || code == 0x7F;
  if (control) {
    const char caret[2] = {'^', static_cast<char>(code ^ 0x40)};
    WriteAll(fd, caret, sizeof caret);
  } else {
    const char raw = static_cast<char>(code);
    WriteAll(fd, &raw, 1);
  }
}

}  // namespace

void TerminalKeysCloser::operator()(TerminalKeys* keys) const {
  tcsetattr(keys->fd, TCSANOW, &keys->saved);
  SetInterruptHook(nullptr);
  close(keys->fd);
  delete keys;
}

TerminalKeysPtr OpenTerminalKeys() {
  const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  termios saved;
  if (tcgetattr(fd, &saved) != 0) {
    close(fd);
    return nullptr;
  }
  restoreFd = fd;
  restoreSettings = saved;
  SetInterruptHook(RestoreOnInterrupt);
  TerminalKeysPtr keys(new TerminalKeys{fd, saved});
  const termios settings = SingleKeySettings(saved);
  if (tcsetattr(fd, TCSANOW, &settings) != 0) return nullptr;
  return keys;
}

int ReadKeyWithEcho(const TerminalKeys& keys) {
  unsigned char code = 0;
  ssize_t n;
  do {
    n = read(keys.fd, &code, 1);
  } while (n < 0 && errno == EINTR);
  if (n != 1) return -1;
  Echo(keys.fd, code);
  return code;
}

}  // namespace unpak
