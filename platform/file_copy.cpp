#include "platform/file_copy.h"

#include <fcntl.h>
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

int CopyFileTo(const std::string& path, int to, bool* writeFailed) {
  *writeFailed = false;
  const int from = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) return errno;
  std::vector<char> buffer(kCopyBufferSize);
  int error = 0;
  for (;;) {
    const ssize_t got = read(from, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      error = got < 0 ? errno : 0;
      break;
    }
    error = WriteAll(to, buffer.data(), static_cast<size_t>(got));
    if (error != 0) {
      *writeFailed = true;
      break;
    }
  }
  close(from);
  return error;
}

}  // namespace unpak
