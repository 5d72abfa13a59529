#pragma once

// RIFF chunk files: a buffered file on disk or a fixed block of memory, read
// and written through a current position, with chunk navigation and creation.

#include <cstdint>
#include <memory>
#include <string>

namespace unpak {

// A RIFF file's sizes are 32-bit: a disk file never grows past this many bytes.
inline constexpr int64_t kChunkFileMaxSize = 0xFFFFFFFF;

// A chunk record. ckid (fccType for a form) and cksize are set by the caller
// before a creation or a search; the rest is filled in by the file.
struct ChunkInfo {
  uint32_t ckid = 0;
  uint32_t cksize = 0;
  uint32_t fccType = 0;
  int64_t dataOffset = 0;  // position of the chunk's first data byte
  bool created = false;    // begun by ChunkCreate: its size is fixed on ascend
};

enum : uint32_t {
  kChunkFind = 0x10,        // ChunkDescend: search for ckid within the parent
  kChunkCreateRiff = 0x20,  // ChunkCreate: begin a "RIFF" form of type fccType
};

struct ChunkFile;
struct ChunkFileCloser {
  void operator()(ChunkFile* file) const;
};
using ChunkFilePtr = std::unique_ptr<ChunkFile, ChunkFileCloser>;

// Takes ownership of `fd`, an open read-write descriptor; the file is emptied.
// Null when the descriptor cannot be used.
ChunkFilePtr OpenChunkFileOnDisk(int fd);
// Reads come from the block; the file never grows and is never written.
ChunkFilePtr OpenChunkFileInMemory(const uint8_t* data, size_t size);

// Without kChunkFind: reads the chunk header at the current position (and the
// form type of a "RIFF" or "LIST") and stands at its data. With kChunkFind:
// searches forward, chunk by chunk, up to the end of `parent`'s data (or of
// the file), for chunk.ckid. True when found; the position is then at its data.
bool ChunkDescend(ChunkFile& file, ChunkInfo& chunk, const ChunkInfo* parent, uint32_t flags);

// Stands after the chunk's data and pad byte. For a chunk begun by
// ChunkCreate, first rewrites its size to the bytes written after its size
// field and pads an odd length with a zero byte (a form's pad goes at the
// very end of the file). False on failure.
bool ChunkAscend(ChunkFile& file, ChunkInfo& chunk);

// Writes a chunk header (flags 0: ckid, cksize) or a form header
// (kChunkCreateRiff: "RIFF", cksize, fccType) and stands at its data.
bool ChunkCreate(ChunkFile& file, ChunkInfo& chunk, uint32_t flags);

// Count read; 0 at the end; -1 on failure.
int32_t ChunkRead(ChunkFile& file, void* buffer, int32_t count);
// Count written; -1 on failure: a memory file is never written, a file that
// has failed takes nothing more, and a write that would take a disk file past
// kChunkFileMaxSize fails whole.
int32_t ChunkWrite(ChunkFile& file, const void* buffer, int32_t count);
// origin SEEK_SET or SEEK_CUR; the new position, or -1 on failure.
int64_t ChunkSeek(ChunkFile& file, int64_t offset, int origin);
// Writes out and empties the buffer. False on failure.
bool ChunkFlush(ChunkFile& file);
// True once any write, flush or seek of the file has failed.
bool ChunkFileFailed(const ChunkFile& file);
// Why writing `file`, called `name` ("the output file"), failed: a write
// that would have taken it past kChunkFileMaxSize, or a failed write or flush.
std::string ChunkWriteFailure(const ChunkFile& file, const std::string& name);
// Flushes and closes; false if the file failed at any time.
bool ChunkFileClose(ChunkFilePtr file);

}  // namespace unpak
