#include "platform/interrupt_cleanup.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr int kSlots = 4;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Each slot holds a path while `used` is set; the handler only reads slots
// whose flag it sees set, and a slot's path is written before its flag.
struct Slot {
  volatile sig_atomic_t used = 0;
  char path[PATH_MAX] = {};
};
Slot slots[kSlots];

void (*volatile interruptHook)() = nullptr;

void RemoveAndReraise(int signal_number) {
  if (void (*hook)() = interruptHook) hook();
  for (Slot& slot : slots) {
    if (slot.used) unlink(slot.path);
  }
  ::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

}  // namespace

void InstallInterruptCleanup() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = RemoveAndReraise;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kSignals) sigaddset(&action.sa_mask, signal_number);
  for (int signal_number : kSignals) sigaction(signal_number, &action, nullptr);
}

bool RegisterTemporaryFile(const std::string& path) {
  if (path.size() >= PATH_MAX) return false;
  for (Slot& slot : slots) {
    if (slot.used) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
    slot.used = 1;
    return true;
  }
  return false;
}

void UnregisterTemporaryFile(const std::string& path) {
  for (Slot& slot : slots) {
    if (slot.used && path == slot.path) slot.used = 0;
  }
}

void SetInterruptHook(void (*hook)()) {
  __atomic_signal_fence(__ATOMIC_SEQ_CST);
  interruptHook = hook;
  __atomic_signal_fence(__ATOMIC_SEQ_CST);
}
