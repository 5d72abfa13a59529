// Buffered reads and writes of a disk ChunkFile: one window of the file is
// kept in memory; transfers of a whole window or more go straight to disk.
// No write takes the file past the size a RIFF file can have.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/chunk_file_state.h"
#include "platform/file_copy.h"

namespace unpak {

namespace {

// Reads up to count bytes; stops early only at the end of the file.
int64_t ReadUpToAt(int fd, uint8_t* data, size_t count, int64_t offset) {
  size_t total = 0;
  while (total < count) {
    const ssize_t got =
        pread(fd, data + total, count - total, offset + static_cast<int64_t>(total));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    total += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(total);
}

void DropWindow(ChunkFile& file) {
  file.windowStart = file.position;
  file.windowLength = 0;
  file.dirtyBegin = file.dirtyEnd = 0;
}

bool InWindowForRead(const ChunkFile& file) {
  return file.position >= file.windowStart &&
         file.position < file.windowStart + static_cast<int64_t>(file.windowLength);
}

// A write may extend the window's contents only without leaving a gap.
bool InWindowForWrite(const ChunkFile& file) {
  const int64_t offset = file.position - file.windowStart;
  return offset >= 0 && offset <= static_cast<int64_t>(file.windowLength) &&
         offset < static_cast<int64_t>(kChunkFileWindow);
}

}  // namespace

bool DiskFlush(ChunkFile& file) {
  bool ok = true;
  if (file.dirtyEnd > file.dirtyBegin) {
    ok = WriteAllAt(file.fd, file.window.data() + file.dirtyBegin, file.dirtyEnd - file.dirtyBegin,
                    file.windowStart + static_cast<int64_t>(file.dirtyBegin));
    if (!ok) file.failed = true;
  }
  DropWindow(file);
  return ok;
}

int64_t DiskRead(ChunkFile& file, uint8_t* buffer, size_t count) {
  size_t total = 0;
  while (total < count) {
    if (InWindowForRead(file)) {
      const size_t offset = static_cast<size_t>(file.position - file.windowStart);
      const size_t n = std::min(count - total, file.windowLength - offset);
      std::memcpy(buffer + total, file.window.data() + offset, n);
      total += n;
      file.position += static_cast<int64_t>(n);
      continue;
    }
    // Pending writes must reach the disk before it is read from.
    if (!DiskFlush(file)) return -1;
    const size_t wanted = count - total;
    if (wanted >= kChunkFileWindow) {
      const int64_t got = ReadUpToAt(file.fd, buffer + total, wanted, file.position);
      if (got < 0) return -1;
      total += static_cast<size_t>(got);
      file.position += got;
      DropWindow(file);
      break;
    }
    const int64_t got = ReadUpToAt(file.fd, file.window.data(), kChunkFileWindow, file.position);
    if (got < 0) return -1;
    if (got == 0) break;
    file.windowLength = static_cast<size_t>(got);
  }
  return static_cast<int64_t>(total);
}

int64_t DiskWrite(ChunkFile& file, const uint8_t* buffer, size_t count) {
  if (file.position > kChunkFileMaxSize - static_cast<int64_t>(count)) {
    file.failed = file.tooLarge = true;
    return -1;
  }
  if (count >= kChunkFileWindow) {
    if (!DiskFlush(file)) return -1;
    if (!WriteAllAt(file.fd, buffer, count, file.position)) {
      file.failed = true;
      return -1;
    }
    file.position += static_cast<int64_t>(count);
    DropWindow(file);
    return static_cast<int64_t>(count);
  }
  size_t total = 0;
  while (total < count) {
    if (!InWindowForWrite(file) && !DiskFlush(file)) return -1;
    const size_t offset = static_cast<size_t>(file.position - file.windowStart);
    const size_t n = std::min(count - total, kChunkFileWindow - offset);
    std::memcpy(file.window.data() + offset, buffer + total, n);
    if (file.dirtyEnd == file.dirtyBegin) {
      file.dirtyBegin = offset;
      file.dirtyEnd = offset + n;
    } else {
      file.dirtyBegin = std::min(file.dirtyBegin, offset);
      file.dirtyEnd = std::max(file.dirtyEnd, offset + n);
    }
    file.windowLength = std::max(file.windowLength, offset + n);
    total += n;
    file.position += static_cast<int64_t>(n);
  }
  return static_cast<int64_t>(total);
}

}  // namespace unpak
