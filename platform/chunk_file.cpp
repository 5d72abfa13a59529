// Opening, closing and byte I/O of ChunkFiles on disk and in memory.

#include "platform/chunk_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/chunk_file_state.h"

namespace unpak {

namespace {

// Writes out what is buffered and releases the descriptor; true if the file
// never failed.
bool Finish(ChunkFile& file) {
  if (!file.inMemory) {
    DiskFlush(file);
    if (close(file.fd) != 0) file.failed = true;
    file.fd = -1;
  }
  return !file.failed;
}

int32_t MemoryRead(ChunkFile& file, uint8_t* buffer, int32_t count) {
  const int64_t left = static_cast<int64_t>(file.memorySize) - file.position;
  const int32_t n = static_cast<int32_t>(std::clamp<int64_t>(left, 0, count));
  if (n > 0) std::memcpy(buffer, file.memory + file.position, static_cast<size_t>(n));
  file.position += n;
  return n;
}

}  // namespace

void ChunkFileCloser::operator()(ChunkFile* file) const {
  Finish(*file);
  delete file;
}

ChunkFilePtr OpenChunkFileOnDisk(int fd) {
  if (fd < 0) return nullptr;
  const int mode = fcntl(fd, F_GETFL);
  struct stat info;
  const bool usable = mode != -1 && (mode & O_ACCMODE) == O_RDWR && fstat(fd, &info) == 0 &&
                      (!S_ISREG(info.st_mode) || ftruncate(fd, 0) == 0);
  if (!usable) {
    close(fd);
    return nullptr;
  }
  ChunkFilePtr file(new ChunkFile);
  file->fd = fd;
  file->window.resize(kChunkFileWindow);
  return file;
}

ChunkFilePtr OpenChunkFileInMemory(const uint8_t* data, size_t size) {
  ChunkFilePtr file(new ChunkFile);
  file->inMemory = true;
  file->memory = data;
  file->memorySize = data ? size : 0;
  return file;
}

int32_t ChunkRead(ChunkFile& file, void* buffer, int32_t count) {
  if (count < 0 || (count > 0 && !buffer)) return -1;
  auto* bytes = static_cast<uint8_t*>(buffer);
  if (file.inMemory) return MemoryRead(file, bytes, count);
  return static_cast<int32_t>(DiskRead(file, bytes, static_cast<size_t>(count)));
}

int32_t ChunkWrite(ChunkFile& file, const void* buffer, int32_t count) {
  if (file.inMemory || file.failed || count < 0 || (count > 0 && !buffer)) {
    file.failed = true;
    return -1;
  }
  return static_cast<int32_t>(
      DiskWrite(file, static_cast<const uint8_t*>(buffer), static_cast<size_t>(count)));
}

int64_t ChunkSeek(ChunkFile& file, int64_t offset, int origin) {
  int64_t target = 0;
  bool ok = false;
  if (origin == SEEK_SET) {
    target = offset;
    ok = true;
  } else if (origin == SEEK_CUR) {
    ok = !__builtin_add_overflow(file.position, offset, &target);
  }
  ok = ok && target >= 0 && (!file.inMemory || target <= static_cast<int64_t>(file.memorySize));
  if (!ok) {
    file.failed = true;
    return -1;
  }
  file.position = target;
  return target;
}

bool ChunkFlush(ChunkFile& file) {
  if (file.inMemory) return true;
  return DiskFlush(file);
}

bool ChunkFileFailed(const ChunkFile& file) { return file.failed; }

std::string ChunkWriteFailure(const ChunkFile& file, const std::string& name) {
  if (file.tooLarge) return "the output would be larger than a WAV file can hold (4 GiB)";
  return "writing " + name + " failed (disk full or I/O error)";
}

bool ChunkFileClose(ChunkFilePtr file) {
  if (!file) return false;
  ChunkFile* raw = file.release();
  const bool ok = Finish(*raw);
  delete raw;
  return ok;
}

}  // namespace unpak
