#pragma once

// How one long entry's MP3 stream is cut into segments that separate
// decoders can decode at once, each started a few frames early so that its
// audio equals the whole stream's decoding.

#include <cstdint>
#include <span>
#include <vector>

#include "convert/entry_facts.h"

namespace unpak {

// A segment's decoder starts early, at a frame where it decodes the frames
// before the segment, rebuilding the bit reservoir, the overlap and the
// synthesis filter's state, and drops their audio. libmpg123's synthesis
// buffer turns with a phase of up to 16 frames from the stream's start, so
// the decoder starts at a frame whose number is a multiple of 16, at least
// kWarmUpFrames frames and kWarmUpBytes bytes back. Measured by decoding
// from each start and comparing 60 frames with the whole decoding, at every
// frame of the MPEG-1 conformance streams and of music encoded by LAME at
// 32 to 320 kbps: starting at a multiple of 16, at most 23 frames back were
// needed (and 4 KiB at 8 kbps); the rule below (mean 40 to 160 frames)
// matched everywhere. MPEG-2 and 2.5 streams had starts that matched only
// from the stream's start, whatever the warm-up: they are not split.
constexpr uint32_t kWarmUpFrames = 32;
constexpr uint32_t kWarmUpBytes = 16 * 1024;
constexpr uint32_t kDecoderPhaseFrames = 16;

// Frames a segment holds, about: long enough that the warm-up costs little
// (5 % at 128 kbps), short enough that the segments decoded ahead stay small (4.5 MiB of
// 44.1 kHz 16-bit stereo each).
constexpr uint32_t kSegmentFrames = 1024;

// The shortest entry worth splitting: shorter ones end soon enough on one
// worker.
constexpr double kMinSegmentedSeconds = 30;

struct SegmentPlan {
  // Where each frame starts in the stream, as far as whole frames of the
  // stream's rate follow one another from its start; what follows is left to
  // the last segment's decoder.
  std::vector<uint32_t> frameStarts;
  std::vector<uint32_t> firstFrames;  // each segment's first frame, in order; the first is 0
  uint32_t frameBytes = 0;            // output bytes that each frame decodes to
  uint32_t passSize = 0;              // source bytes per pass of the decode loop
};

// Where the frames start that follow one another from the stream's start
// at `rate`, up to the first byte that starts none.
std::vector<uint32_t> FollowFrames(std::span<const uint8_t> stream, uint32_t rate);

// The frame where the decoder of the segment that starts at frame `first`
// starts.
uint32_t WarmUpStart(const SegmentPlan& plan, uint32_t first);

// Bytes of decoded audio before segment `index`'s own: every frame before it
// decodes to frameBytes.
uint64_t SegmentAudioStart(const SegmentPlan& plan, size_t index);

// The segment whose audio holds byte `decodedByte` of the decoded audio.
size_t SegmentHolding(const SegmentPlan& plan, uint64_t decodedByte);

// Plans the segments of `stream`, the entry's MP3 audio, for a PCM target.
// False when the entry is not worth splitting or cannot be split exactly:
// another rate in the target than in the source (the resampler's state
// spans the whole entry), source blocks of more than a byte, MPEG-2 or 2.5
// frames, or less audio
// than kMinSegmentedSeconds in the frames that follow one another from the
// stream's start.
bool PlanSegments(const EntryFacts& facts, std::span<const uint8_t> stream, SegmentPlan* plan);

}  // namespace unpak
