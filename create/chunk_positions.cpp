#include "create/chunk_positions.h"

#include <algorithm>
#include <limits>
#include <map>

#include "platform/byte_order.h"

namespace unpak {

namespace {

constexpr size_t kCuePointSize = 24;
constexpr size_t kSamplerHeaderSize = 36;
constexpr size_t kLoopSize = 24;

// Each record of a table of `count` records of `size` bytes from `offset`,
// as far as `data` holds them.
template <typename Visit>
void ForEachRecord(const std::vector<uint8_t>& data, size_t offset, uint64_t count, size_t size,
                   Visit visit) {
  for (uint64_t i = 0; i < count && offset + (i + 1) * size <= data.size(); ++i)
    visit(data.data() + offset + i * size);
}

// The cue points' positions by their names.
std::map<uint32_t, uint32_t> CuePositions(const std::vector<RiffChunk>& chunks) {
  std::map<uint32_t, uint32_t> positions;
  for (const RiffChunk& chunk : chunks) {
    if (chunk.id != "cue " || chunk.data.size() < 4) continue;
    ForEachRecord(
        chunk.data, 4, LoadLe32(chunk.data.data()), kCuePointSize, [&](const uint8_t* point) {
          positions[LoadLe32(point)] = std::max(LoadLe32(point + 4), LoadLe32(point + 20));
        });
  }
  return positions;
}

std::string PastEnd(const std::string& what, uint64_t position, uint64_t frames) {
  return what + " at sample frame " + std::to_string(position) + ", past the new end at " +
         std::to_string(frames);
}

}  // namespace

void SetFactLength(std::vector<RiffChunk>& chunks, uint64_t frames, bool lowerOnly) {
  const auto length =
      static_cast<uint32_t>(std::min<uint64_t>(frames, std::numeric_limits<uint32_t>::max()));
  for (RiffChunk& chunk : chunks) {
    if (chunk.id != "fact" || chunk.data.size() < 4) continue;
    if (!lowerOnly || LoadLe32(chunk.data.data()) > length) StoreLe32(chunk.data.data(), length);
  }
}

std::vector<std::string> PositionsPastEnd(const std::vector<RiffChunk>& chunks, uint64_t frames) {
  std::vector<std::string> lines;
  const std::map<uint32_t, uint32_t> cues = CuePositions(chunks);
  for (const auto& [name, position] : cues) {
    if (position > frames)
      lines.push_back(PastEnd("\"cue \" point " + std::to_string(name), position, frames));
  }
  for (const RiffChunk& chunk : chunks) {
    const std::vector<uint8_t>& data = chunk.data;
    if (chunk.id == "smpl" && data.size() >= kSamplerHeaderSize) {
      ForEachRecord(
          data, kSamplerHeaderSize, LoadLe32(&data[28]), kLoopSize, [&](const uint8_t* loop) {
            const uint32_t end = std::max(LoadLe32(loop + 8), LoadLe32(loop + 12));
            if (end >= frames) {
              lines.push_back(PastEnd("\"smpl\" loop " + std::to_string(LoadLe32(loop)) + " ends",
                                      end, frames));
            }
          });
    }
    if (chunk.id != "LIST" || data.size() < 4 ||
        std::string(data.begin(), data.begin() + 4) != "adtl")
      continue;
    // "ltxt" subchunks: a cue point's name, then the region's length from it.
    for (size_t at = 4; at + 8 <= data.size();) {
      const uint32_t size = LoadLe32(&data[at + 4]);
      if (std::string(&data[at], &data[at] + 4) == "ltxt" && size >= 8 && at + 16 <= data.size()) {
        const auto cue = cues.find(LoadLe32(&data[at + 8]));
        const uint64_t end =
            uint64_t{cue == cues.end() ? 0 : cue->second} + LoadLe32(&data[at + 12]);
        if (cue != cues.end() && end > frames) {
          lines.push_back(PastEnd(
              "\"LIST\" \"adtl\" region of cue point " + std::to_string(cue->first) + " ends", end,
              frames));
        }
      }
      at += 8 + uint64_t{size} + (size & 1);
    }
  }
  return lines;
}

}  // namespace unpak
