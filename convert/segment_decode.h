#pragma once

// Decodes one segment of a planned MP3 stream on its own codec stream, in
// the slices that the decode loop's passes would feed, and keeps its audio
// with the pass that each piece came out in.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "convert/conversion_buffers.h"
#include "convert/segment_plan.h"

namespace unpak {

// What every segment of one entry decodes from.
struct SegmentSource {
  std::span<const uint8_t> sourceFormat;
  std::span<const uint8_t> destinationFormat;
  std::span<const uint8_t> stream;  // the compressed audio, as far as the payload holds it
  const SegmentPlan& plan;
};

// One segment's audio: its own frames', without the warm-up.
struct SegmentAudio {
  std::vector<uint8_t> pcm;
  // (pass, bytes) in order: the bytes of `pcm` that came out in each pass
  // that gave any.
  std::vector<std::pair<uint32_t, uint32_t>> passes;
  uint32_t endBytes = 0;  // the last segment's: what came out once the source had ended
  bool ok = true;
  uint32_t failedPass = 0;  // with !ok: the pass whose conversion failed
  std::string reason;
};

// A codec stream that has been fed the stream up to `position`.
struct SegmentDecoder {
  CodecStreamPtr stream;
  ConversionBuffers buffers;
  uint32_t position = 0;
  uint16_t outputAlign = 0;  // bytes per sample frame of the output
};
struct SegmentDecoderDeleter {
  void operator()(SegmentDecoder* decoder) const;
};
using SegmentDecoderPtr = std::unique_ptr<SegmentDecoder, SegmentDecoderDeleter>;

// Decodes segment `index` into `audio`. A `decoder` that stopped where the
// segment starts goes on (a stream fed in one run needs no warm-up);
// otherwise a new one starts at WarmUpStart. `decoder` is left where
// the segment ends.
void DecodeSegment(const SegmentSource& source, size_t index, SegmentDecoderPtr* decoder,
                   SegmentAudio* audio);

}  // namespace unpak
