#pragma once

// One entry's MP3 stream decoded in segments on several threads and joined
// in order, with the same audio, the same cut and cap and the same "#" marks
// as the decode loop gives decoding it whole.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "convert/segment_plan.h"
#include "platform/chunk_file.h"

namespace unpak {

struct SegmentedEntry;

// The entries being decoded in segments, for threads of the run that have
// no entry of their own to help with.
struct SegmentHelpers {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<SegmentedEntry*> entries;
  // Segments decoded ahead of the one being written, at most: they wait in
  // memory.
  size_t ahead = 1;
  bool closed = false;
};

// Decodes segments of the entries there are until the helpers are closed.
void HelpWithSegments(SegmentHelpers& helpers);
void CloseSegmentHelpers(SegmentHelpers& helpers);

// As DecodeStream, for `stream` (the compressed audio, as far as the payload
// holds it) planned by PlanSegments. This thread decodes the segments that
// no helper has taken and writes each in turn.
bool DecodeStreamInSegments(SegmentHelpers& helpers, const SegmentPlan& plan,
                            ChunkFile& destination, std::span<const uint8_t> destinationFormat,
                            std::span<const uint8_t> sourceFormat, std::span<const uint8_t> stream,
                            uint32_t decodedLength, uint64_t* decodedBytes, std::string* reason);

}  // namespace unpak
