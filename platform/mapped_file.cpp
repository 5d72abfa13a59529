#include "platform/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace unpak {

namespace {

// The guarded mapping, read by the fault handler.
uint8_t* volatile guardedStart = nullptr;
volatile size_t guardedSize = 0;
volatile int guardedFd = -1;
// The first byte of the part of the mapping that reads as zeros; null while
// there is none.
uint8_t* lostFrom = nullptr;

// A fault inside the guarded mapping means the file no longer backs that
// page: the rest of the mapping becomes zero pages, so the read goes on,
// and the loss is noted. Any other fault ends the process.
void OnBusError(int, siginfo_t* info, void*) {
  uint8_t* const start = guardedStart;
  const size_t size = guardedSize;
  auto* address = static_cast<uint8_t*>(info->si_addr);
  if (start == nullptr || address < start || address >= start + size) {
    signal(SIGBUS, SIG_DFL);
    return;
  }
  const uintptr_t pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  auto* page = reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(address) & ~(pageSize - 1));
  if (mmap(page, static_cast<size_t>(start + size - page), PROT_READ,
           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) {
    signal(SIGBUS, SIG_DFL);
    return;
  }
  uint8_t* lost = __atomic_load_n(&lostFrom, __ATOMIC_ACQUIRE);
  while ((lost == nullptr || page < lost) &&
         !__atomic_compare_exchange_n(&lostFrom, &lost, page, false, __ATOMIC_ACQ_REL,
                                      __ATOMIC_ACQUIRE)) {
  }
}

void GuardMapping(uint8_t* start, size_t size, int fd) {
  guardedSize = size;
  guardedFd = fd;
  guardedStart = start;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGBUS, &action, nullptr);
}

}  // namespace

void MappedFileCloser::operator()(MappedFile* file) const {
  if (file->data != nullptr) {
    if (guardedStart == file->data) {
      guardedStart = nullptr;
      lostFrom = nullptr;
    }
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
  GuardMapping(static_cast<uint8_t*>(view), file->size, file->fd);
  return file;
}

bool MappedBytesLost(const void* start, size_t length) {
  const uint8_t* end = static_cast<const uint8_t*>(start) + length;
  const uint8_t* lost = __atomic_load_n(&lostFrom, __ATOMIC_ACQUIRE);
  if (lost != nullptr && end > lost) return true;
  // Bytes past a shrunk file's end in its last page read as zeros without
  // any fault: the file's size now tells.
  struct stat info;
  return guardedStart != nullptr &&
         (fstat(guardedFd, &info) != 0 || end > guardedStart + info.st_size);
}

}  // namespace unpak
