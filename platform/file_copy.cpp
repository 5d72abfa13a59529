#include "platform/file_copy.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace unpak {

namespace {

constexpr size_t kCopyBufferSize = 1 << 16;

// 0, or the error of the write that failed; retries short writes.
int WriteAll(int to, const char* bytes, size_t count) {
  while (count > 0) {
    const ssize_t written = write(to, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return 0;
}

}  // namespace

bool WriteAllAt(int fd, const uint8_t* data, size_t count, int64_t offset) {
  while (count > 0) {
    const ssize_t written = pwrite(fd, data, count, offset);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    count -= static_cast<size_t>(written);
    offset += written;
  }
  return true;
}

int CopyFileTo(int from, int to, bool* writeFailed) {
  *writeFailed = false;
  std::vector<char> buffer(kCopyBufferSize);
  for (off_t offset = 0;;) {
    const ssize_t got = pread(from, buffer.data(), buffer.size(), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return got < 0 ? errno : 0;
    const int error = WriteAll(to, buffer.data(), static_cast<size_t>(got));
    if (error != 0) {
      *writeFailed = true;
      return error;
    }
    offset += got;
  }
}

}  // namespace unpak
