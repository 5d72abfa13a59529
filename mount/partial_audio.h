#pragma once

// An entry's output file whose audio is decoded a segment at a time, as
// reads reach it, instead of all before the first byte: a read far into a
// long entry waits only for the segments it needs. Every byte comes out as
// decoding the entry whole gives it.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "convert/entry_facts.h"
#include "convert/segment_decode.h"

namespace unpak {

enum class SegmentFill { kMissing, kDecoding, kFilled, kFailed };

struct PartialAudio {
  FormatBlock targetBlock;  // the entry's target format, which facts points into
  EntryFacts facts;
  std::span<const uint8_t> stream;  // the compressed audio, as far as the payload holds it
  SegmentPlan plan;
  uint64_t audioStart = 0;  // where the audio starts in the file
  uint64_t delayBytes = 0;  // decoded audio cut from the front
  std::mutex mutex;
  std::condition_variable settled;  // a segment was filled or failed
  std::vector<SegmentFill> segments;
  SegmentDecoderPtr spare;  // a decoder left where its last segment ended
  std::string failure;      // why a segment failed
};

// The entry's audio planned in segments, none filled yet (the caller sets
// audioStart); null when its stream cannot be decoded in segments exactly.
std::unique_ptr<PartialAudio> PlanPartialAudio(const EntryFacts& facts,
                                               std::span<const uint8_t> stream);

// Decodes into the file `fd` the segments whose audio falls within its bytes
// [begin, end) and that are not there yet; segments that other threads are
// decoding are waited for. `sourceIntact` tells, after each segment, whether
// the stream it was decoded from could still be read whole, or why not. False, with the
// reason, when a segment cannot be decoded or written: it will not be tried
// again.
bool FillAudio(PartialAudio& audio, int fd, uint64_t begin, uint64_t end,
               const std::function<bool(std::string* reason)>& sourceIntact,
               std::string* reason);

}  // namespace unpak
