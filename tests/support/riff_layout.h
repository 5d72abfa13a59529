#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct RiffChunkSpan {
  std::string id;
  size_t offset = 0;  // of the chunk header
  uint32_t size = 0;  // the length field
};

struct RiffLayout {
  bool valid = false;
  std::string problem;  // why the file is not a well-formed RIFF file
  uint32_t formSize = 0;
  std::string formType;
  std::vector<RiffChunkSpan> chunks;
  size_t unparsedFrom = 0;  // where the chunk walk stopped short of the form's end, or 0
};

// The chunk list of a RIFF file. Valid when the form's size is the file's
// length less 8 (less a final pad byte when that length is odd). The walk
// stops at bytes that do not make a whole chunk (raw bytes may follow the
// last chunk).
RiffLayout ParseRiff(const std::vector<uint8_t>& file);

// The ids in order, e.g. "fmt ,LIST,data".
std::string ChunkIds(const RiffLayout& layout);

// The first chunk with this id, or null.
const RiffChunkSpan* FindChunk(const RiffLayout& layout, const std::string& id);
