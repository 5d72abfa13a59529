#pragma once

// The inside of a ChunkFile, shared by its I/O and its chunk navigation.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/chunk_file.h"

namespace unpak {

// Size of a disk file's buffer window.
inline constexpr size_t kChunkFileWindow = 64 * 1024;

struct ChunkFile {
  bool inMemory = false;
  int64_t position = 0;
  bool failed = false;    // sticky: set by any failed write, flush or seek
  bool tooLarge = false;  // a write would have passed kChunkFileMaxSize

  // Memory file: a fixed, read-only block.
  const uint8_t* memory = nullptr;
  size_t memorySize = 0;

  // Disk file: an owned descriptor and one window of it. The window holds the
  // file's bytes [windowStart, windowStart + windowLength); of those, the
  // offsets [dirtyBegin, dirtyEnd) are newer than the disk.
  int fd = -1;
  std::vector<uint8_t> window;
  int64_t windowStart = 0;
  size_t windowLength = 0;
  size_t dirtyBegin = 0;
  size_t dirtyEnd = 0;
};

// Buffered disk I/O at file.position, which they advance. Counts read or
// written, or -1; a failed write or flush marks the file failed, and so does
// a write past kChunkFileMaxSize, which is not made at all.
int64_t DiskRead(ChunkFile& file, uint8_t* buffer, size_t count);
int64_t DiskWrite(ChunkFile& file, const uint8_t* buffer, size_t count);
// Writes the window's changed bytes out and empties the window.
bool DiskFlush(ChunkFile& file);

}  // namespace unpak
