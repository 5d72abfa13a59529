#include "create/wave_chunks.h"

#include <algorithm>
#include <cstdio>

#include "platform/byte_order.h"
#include "platform/chunk_file.h"

namespace unpak {

namespace {

constexpr int64_t kChunkHeaderSize = 8;

std::string ChunkName(uint32_t ckid) {
  uint8_t code[4];
  StoreLe32(code, ckid);
  return std::string(code, code + 4);
}

}  // namespace

bool ReadWaveChunks(const uint8_t* bytes, size_t size, WaveChunks* chunks, std::string* reason) {
  ChunkFilePtr file = OpenChunkFileInMemory(bytes, size);
  ChunkInfo form;
  if (!ChunkDescend(*file, form, nullptr, 0) || form.ckid != MakeFourCC("RIFF") ||
      form.fccType != MakeFourCC("WAVE")) {
    *reason = "not a WAV file (it does not begin with a RIFF WAVE header)";
    return false;
  }
  // A form size of 0 is what writers that could not seek back leave: the
  // form then runs to the end of the file.
  const int64_t stated =
      form.cksize == 0 ? static_cast<int64_t>(size) : form.dataOffset + int64_t{form.cksize};
  const int64_t end = std::min(stated, static_cast<int64_t>(size));
  bool haveFormat = false;
  bool haveData = false;
  // Every step advances by at least a chunk header, so the walk ends.
  for (int64_t at = ChunkSeek(*file, 0, SEEK_CUR); at + kChunkHeaderSize <= end;) {
    ChunkInfo chunk;
    // A header that fits can fail only on a "LIST" type cut off by the end of the file.
    if (ChunkSeek(*file, at, SEEK_SET) != at || !ChunkDescend(*file, chunk, nullptr, 0)) {
      *reason = "its chunk at offset " + std::to_string(at) + " runs past the end of the file";
      return false;
    }
    const std::string name = ChunkName(chunk.ckid);
    const int64_t available = static_cast<int64_t>(size) - chunk.dataOffset;
    if (chunk.ckid == MakeFourCC("data")) {
      if (haveData) {
        *reason = "it has more than one \"data\" chunk";
        return false;
      }
      haveData = true;
      chunks->dataOffset = static_cast<uint64_t>(chunk.dataOffset);
      chunks->dataLength =
          static_cast<uint32_t>(std::min<int64_t>(chunk.cksize, std::max<int64_t>(available, 0)));
    } else if (int64_t{chunk.cksize} > available) {
      *reason = "its \"" + name + "\" chunk runs past the end of the file";
      return false;
    } else {
      const uint8_t* data = bytes + chunk.dataOffset;
      std::vector<uint8_t> contents(data, data + chunk.cksize);
      if (chunk.ckid != MakeFourCC("fmt ")) {
        (haveData ? chunks->after : chunks->before).push_back({name, std::move(contents)});
      } else if (haveFormat) {
        *reason = "it has more than one \"fmt \" chunk";
        return false;
      } else {
        haveFormat = true;
        chunks->format = std::move(contents);
      }
    }
    at = chunk.dataOffset + int64_t{chunk.cksize} + (chunk.cksize & 1);
  }
  if (!haveFormat || !haveData) {
    *reason = haveFormat ? "it has no \"data\" chunk" : "it has no \"fmt \" chunk";
    return false;
  }
  return true;
}

}  // namespace unpak
