// RIFF chunk navigation and creation over a ChunkFile's byte I/O.

#include <algorithm>
#include <cstdio>
#include <limits>

#include "platform/byte_order.h"
#include "platform/chunk_file.h"
#include "platform/chunk_file_state.h"

namespace unpak {

namespace {

constexpr uint32_t kRiff = MakeFourCC("RIFF");
constexpr uint32_t kList = MakeFourCC("LIST");

bool ReadExact(ChunkFile& file, uint8_t* buffer, int32_t count) {
  return ChunkRead(file, buffer, count) == count;
}

bool WriteExact(ChunkFile& file, const uint8_t* buffer, int32_t count) {
  return ChunkWrite(file, buffer, count) == count;
}

// Reads the header at the current position; stands after its size field.
bool ReadHeader(ChunkFile& file, uint32_t& ckid, uint32_t& cksize) {
  uint8_t header[8];
  if (!ReadExact(file, header, 8)) return false;
  ckid = LoadLe32(header);
  cksize = LoadLe32(header + 4);
  return true;
}

bool DescendHere(ChunkFile& file, ChunkInfo& chunk) {
  uint32_t ckid = 0;
  uint32_t cksize = 0;
  if (!ReadHeader(file, ckid, cksize)) return false;
  chunk.ckid = ckid;
  chunk.cksize = cksize;
  chunk.dataOffset = file.position;
  chunk.fccType = 0;
  chunk.created = false;
  if (ckid == kRiff || ckid == kList) {
    uint8_t type[4];
    if (!ReadExact(file, type, 4)) return false;
    chunk.fccType = LoadLe32(type);
  }
  return true;
}

// Walks chunk headers from the current position while they fit below limit.
bool FindChunk(ChunkFile& file, ChunkInfo& chunk, const ChunkInfo* parent) {
  int64_t limit = std::numeric_limits<int64_t>::max();
  if (parent) limit = parent->dataOffset + static_cast<int64_t>(parent->cksize);
  if (file.inMemory) limit = std::min(limit, static_cast<int64_t>(file.memorySize));
  int64_t at = file.position;
  // Every step advances by at least 8 bytes, so the walk ends.
  while (at <= limit - 8) {
    if (ChunkSeek(file, at, SEEK_SET) != at) return false;
    uint32_t ckid = 0;
    uint32_t cksize = 0;
    if (!ReadHeader(file, ckid, cksize)) return false;
    if (ckid == chunk.ckid) {
      chunk.cksize = cksize;
      chunk.dataOffset = file.position;
      chunk.created = false;
      return true;
    }
    at = file.position + static_cast<int64_t>(cksize) + (cksize & 1);
  }
  return false;
}

}  // namespace

bool ChunkDescend(ChunkFile& file, ChunkInfo& chunk, const ChunkInfo* parent, uint32_t flags) {
  if (flags & kChunkFind) return FindChunk(file, chunk, parent);
  return DescendHere(file, chunk);
}

bool ChunkAscend(ChunkFile& file, ChunkInfo& chunk) {
  if (!chunk.created) {
    const int64_t end = chunk.dataOffset + static_cast<int64_t>(chunk.cksize) + (chunk.cksize & 1);
    return ChunkSeek(file, end, SEEK_SET) == end;
  }
  const int64_t end = file.position;
  const int64_t length = end - chunk.dataOffset;
  if (length < 0 || length > std::numeric_limits<uint32_t>::max()) return false;
  chunk.cksize = static_cast<uint32_t>(length);
  uint8_t size[4];
  StoreLe32(size, chunk.cksize);
  const int64_t sizeField = chunk.dataOffset - 4;
  if (ChunkSeek(file, sizeField, SEEK_SET) != sizeField || !WriteExact(file, size, 4) ||
      ChunkSeek(file, end, SEEK_SET) != end)
    return false;
  if (length & 1) {
    const uint8_t pad = 0;
    if (!WriteExact(file, &pad, 1)) return false;
  }
  return true;
}

bool ChunkCreate(ChunkFile& file, ChunkInfo& chunk, uint32_t flags) {
  const bool form = (flags & kChunkCreateRiff) != 0;
  if (form) chunk.ckid = kRiff;
  uint8_t header[12];
  StoreLe32(header, chunk.ckid);
  StoreLe32(header + 4, chunk.cksize);
  StoreLe32(header + 8, chunk.fccType);
  const int64_t start = file.position;
  if (!WriteExact(file, header, form ? 12 : 8)) return false;
  chunk.dataOffset = start + 8;
  chunk.created = true;
  return true;
}

}  // namespace unpak
