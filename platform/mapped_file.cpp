#include "platform/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace unpak {

namespace {

// A guarded mapping, read by the fault handler: its start is set last and
// cleared first, so the handler only sees a guard whole.
struct Guard {
  std::atomic<bool> taken{false};
  std::atomic<uintptr_t> start{0};
  std::atomic<size_t> size{0};
  std::atomic<int> fd{-1};
  // The first byte of the part of the mapping that reads as zeros; 0 while
  // there is none.
  std::atomic<uintptr_t> lostFrom{0};
};
// Far more mappings than a run holds at once (the archive, and an input per
// worker); a mapping made while every guard is taken goes unguarded.
constexpr size_t kGuards = 256;
Guard guards[kGuards];

// The guard of the mapping that holds `address`, or whose end it is when
// `withEnd`; null when none does.
Guard* GuardHolding(uintptr_t address, bool withEnd) {
  for (Guard& guard : guards) {
    const uintptr_t start = guard.start.load(std::memory_order_acquire);
    const uintptr_t end = start + guard.size.load(std::memory_order_relaxed);
    if (start != 0 && address >= start && (address < end || (withEnd && address == end)))
      return &guard;
  }
  return nullptr;
}

// A fault inside a guarded mapping means the file no longer backs that
// page: the rest of the mapping becomes zero pages, so the read goes on,
// and the loss is noted. Any other fault ends the process.
void OnBusError(int, siginfo_t* info, void*) {
  Guard* guard = GuardHolding(reinterpret_cast<uintptr_t>(info->si_addr), false);
  if (guard == nullptr) {
    signal(SIGBUS, SIG_DFL);
    return;
  }
  const uintptr_t end = guard->start.load() + guard->size.load();
  const uintptr_t pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t page = reinterpret_cast<uintptr_t>(info->si_addr) & ~(pageSize - 1);
  if (mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) {
    signal(SIGBUS, SIG_DFL);
    return;
  }
  uintptr_t lost = guard->lostFrom.load();
  while ((lost == 0 || page < lost) && !guard->lostFrom.compare_exchange_weak(lost, page)) {
  }
}

void GuardMapping(const uint8_t* start, size_t size, int fd) {
  for (Guard& guard : guards) {
    bool taken = false;
    if (!guard.taken.compare_exchange_strong(taken, true)) continue;
    guard.size = size;
    guard.fd = fd;
    guard.lostFrom = 0;
    guard.start.store(reinterpret_cast<uintptr_t>(start), std::memory_order_release);
    break;
  }
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, nullptr);
}

void ReleaseGuard(const uint8_t* start) {
  for (Guard& guard : guards) {
    if (guard.start.load() != reinterpret_cast<uintptr_t>(start)) continue;
    guard.start = 0;
    guard.taken = false;
    return;
  }
}

}  // namespace

void MappedFileCloser::operator()(MappedFile* file) const {
  if (file->data != nullptr) {
    ReleaseGuard(file->data);
    munmap(const_cast<uint8_t*>(file->data), file->size);
  }
  if (file->fd >= 0) close(file->fd);
  delete file;
}

MappedFilePtr MapFileReadOnly(const char* path, std::string* reason) {
  MappedFilePtr file(new MappedFile);
  // Without O_NONBLOCK opening a FIFO would wait for a writer; only regular
  // files are mapped.
  file->fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file->fd < 0) {
    *reason = std::string("cannot open: ") + std::strerror(errno);
    return nullptr;
  }
  struct stat info;
  if (fstat(file->fd, &info) != 0) {
    *reason = std::string("cannot read its size: ") + std::strerror(errno);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    *reason = "not a regular file";
    return nullptr;
  }
  file->device = info.st_dev;
  file->inode = info.st_ino;
  file->size = static_cast<size_t>(info.st_size);
  if (file->size == 0) return file;
  void* view = mmap(nullptr, file->size, PROT_READ, MAP_PRIVATE, file->fd, 0);
  if (view == MAP_FAILED) {
    *reason = std::string("cannot map into memory: ") + std::strerror(errno);
    return nullptr;
  }
  file->data = static_cast<const uint8_t*>(view);
  GuardMapping(file->data, file->size, file->fd);
  return file;
}

bool MappedBytesLost(const void* start, size_t length) {
  const Guard* guard = GuardHolding(reinterpret_cast<uintptr_t>(start), true);
  if (guard == nullptr) return false;
  const uintptr_t end = reinterpret_cast<uintptr_t>(start) + length;
  const uintptr_t lost = guard->lostFrom.load();
  if (lost != 0 && end > lost) return true;
  // Bytes past a shrunk file's end in its last page read as zeros without
  // any fault: the file's size now tells.
  struct stat info;
  return fstat(guard->fd, &info) != 0 ||
         end > guard->start.load() + static_cast<uintptr_t>(info.st_size);
}

}  // namespace unpak
