#include "tests/support/riff_layout.h"

#include "platform/byte_order.h"

RiffLayout ParseRiff(const std::vector<uint8_t>& file) {
  RiffLayout layout;
  if (file.size() < 12 || std::string(file.begin(), file.begin() + 4) != "RIFF") {
    layout.problem = "no RIFF header";
    return layout;
  }
  layout.formSize = LoadLe32(file.data() + 4);
  layout.formType.assign(file.begin() + 8, file.begin() + 12);
  const size_t formEnd = 8 + static_cast<size_t>(layout.formSize);
  if (formEnd + layout.formSize % 2 != file.size()) {
    layout.problem = "RIFF size " + std::to_string(layout.formSize) +
                     " does not match file length " + std::to_string(file.size());
    return layout;
  }
  layout.valid = true;
  size_t at = 12;
  while (at < formEnd) {
    if (formEnd - at < 8) break;
    RiffChunkSpan chunk{std::string(file.begin() + at, file.begin() + at + 4), at,
                        LoadLe32(file.data() + at + 4)};
    if (chunk.size > formEnd - at - 8) break;
    layout.chunks.push_back(chunk);
    at += 8 + chunk.size + chunk.size % 2;
  }
  if (at < formEnd) layout.unparsedFrom = at;
  return layout;
}

std::string ChunkIds(const RiffLayout& layout) {
  std::string ids;
  for (const RiffChunkSpan& chunk : layout.chunks) {
    if (!ids.empty()) ids += ',';
    ids += chunk.id;
  }
  return ids;
}

const RiffChunkSpan* FindChunk(const RiffLayout& layout, const std::string& id) {
  for (const RiffChunkSpan& chunk : layout.chunks) {
    if (chunk.id == id) return &chunk;
  }
  return nullptr;
}
