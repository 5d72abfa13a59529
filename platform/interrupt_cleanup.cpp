#include "platform/interrupt_cleanup.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace unpak {

namespace {

// Enough for every pending file of the most workers a run starts (two
// entries ahead per worker, and a copy being put in place).
constexpr int kSlots = 160;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ};

// A slot is claimed (1), then its path written, then published (2); the
// handler only reads published slots.
struct Slot {
  volatile int state = 0;
  char path[PATH_MAX] = {};
};
Slot slots[kSlots];

void (*volatile interruptHook)() = nullptr;

// Set once a handler has begun: files registered from then on are removed by
// whoever registers them, as the handler may already have passed their slot.
int ending = 0;
// Uninterrupted steps in progress (a file being created and registered, or
// named and renamed); the handler waits for them, so that no file is
// created after it and left behind when the process ends.
int creating = 0;

void WaitForCreations() {
  const timespec pause{0, 100000};  // 0.1 ms, up to 2 s in all
  for (int tries = 0; tries < 20000 && __atomic_load_n(&creating, __ATOMIC_SEQ_CST) > 0; ++tries) {
    nanosleep(&pause, nullptr);
  }
}

void RemoveAndReraise(int signal_number) {
  __atomic_store_n(&ending, 1, __ATOMIC_SEQ_CST);
  WaitForCreations();
  if (void (*hook)() = interruptHook) hook();
  for (Slot& slot : slots) {
    if (__atomic_load_n(&slot.state, __ATOMIC_ACQUIRE) == 2) unlink(slot.path);
  }
  ::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

// False when no slot is free, or when the process is ending on a signal
// (the caller removes the file then).
bool RegisterTemporaryFile(const std::string& path) {
  if (path.size() >= PATH_MAX) return false;
  for (Slot& slot : slots) {
    int free = 0;
    if (!__atomic_compare_exchange_n(&slot.state, &free, 1, false, __ATOMIC_ACQUIRE,
                                     __ATOMIC_RELAXED)) {
      continue;
    }
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    __atomic_store_n(&slot.state, 2, __ATOMIC_SEQ_CST);
    return __atomic_load_n(&ending, __ATOMIC_SEQ_CST) == 0;
  }
  return false;
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

void UnregisterTemporaryFile(const std::string& path) {
  for (Slot& slot : slots) {
    if (__atomic_load_n(&slot.state, __ATOMIC_ACQUIRE) == 2 && path == slot.path) {
      __atomic_store_n(&slot.state, 0, __ATOMIC_RELEASE);
      return;
    }
  }
}

bool RunUninterrupted(const std::function<void()>& step) {
  // A handler waits for steps in progress, and none begins once the run is
  // ending, as the process may end at any moment then.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &previous);
  __atomic_add_fetch(&creating, 1, __ATOMIC_SEQ_CST);
  const bool run = __atomic_load_n(&ending, __ATOMIC_SEQ_CST) == 0;
  if (run) step();
  __atomic_sub_fetch(&creating, 1, __ATOMIC_SEQ_CST);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return run;
}

int CreateTemporaryFile(std::string& name, bool keepName, int* error) {
  // Signals wait until the file is registered or gone.
  int fd = -1;
  *error = EINTR;
  RunUninterrupted([&] {
    fd = mkostemp(name.data(), O_CLOEXEC);
    *error = errno;
    if (fd >= 0 && (!keepName || !RegisterTemporaryFile(name))) {
      unlink(name.c_str());
      if (keepName) {
        close(fd);
        fd = -1;
        *error = EMFILE;
      }
    }
  });
  return fd;
}

void SetInterruptHook(void (*hook)()) {
  __atomic_signal_fence(__ATOMIC_SEQ_CST);
  interruptHook = hook;
  __atomic_signal_fence(__ATOMIC_SEQ_CST);
}

}  // namespace unpak
