#include "convert/segment_plan.h"

#include <algorithm>
#include <optional>

#include "convert/decoded_audio.h"
#include "convert/mpeg_frame_header.h"

namespace {

// Frames shorter than a header, its checksum and the longest side
// information are junk to the codec: a plan stops before them.
constexpr size_t kShortestSafeFrame = kMpegFrameHeaderSize + 2 + 32;
constexpr uint32_t kMpeg1SamplesPerFrame = 1152;

}  // namespace

std::vector<uint32_t> FollowFrames(std::span<const uint8_t> stream, uint32_t rate,
                                   uint32_t* samplesPerFrame) {
  std::vector<uint32_t> starts;
  for (size_t at = 0; at + kMpegFrameHeaderSize <= stream.size();) {
    const std::optional<MpegFrameHeader> header = ParseMpegFrameHeader(stream.data() + at);
    if (!header || header->rate != rate || header->length < kShortestSafeFrame ||
        header->length > stream.size() - at) {
      break;
    }
    *samplesPerFrame = header->mpeg1 ? kMpeg1SamplesPerFrame : kMpeg1SamplesPerFrame / 2;
    starts.push_back(static_cast<uint32_t>(at));
    at += header->length;
  }
  return starts;
}

uint32_t WarmUpStart(const SegmentPlan& plan, uint32_t first) {
  uint32_t start = first - std::min(first, kWarmUpFrames);
  while (start > 0 && plan.frameStarts[first] - plan.frameStarts[start] < kWarmUpBytes) --start;
  return start - start % kDecoderPhaseFrames;
}

bool PlanSegments(const EntryFacts& facts, std::span<const uint8_t> stream, SegmentPlan* plan) {
  const WaveFormat& target = facts.target;
  if (!facts.intermediate.empty() || target.nSamplesPerSec != facts.source.nSamplesPerSec ||
      facts.source.nBlockAlign != 1 || EntryDurationSeconds(facts) < kMinSegmentedSeconds) {
    return false;
  }
  uint32_t samplesPerFrame = 0;
  plan->frameStarts = FollowFrames(stream, target.nSamplesPerSec, &samplesPerFrame);
  const uint64_t frames = plan->frameStarts.size();
  if (samplesPerFrame != kMpeg1SamplesPerFrame ||
      frames * samplesPerFrame < kMinSegmentedSeconds * target.nSamplesPerSec) return false;
  const uint64_t segments = std::max<uint64_t>(2, (frames + kSegmentFrames / 2) / kSegmentFrames);
  plan->firstFrames.clear();
  for (uint64_t i = 0; i < segments; ++i) {
    plan->firstFrames.push_back(static_cast<uint32_t>(i * frames / segments));
  }
  plan->frameBytes = samplesPerFrame * target.nBlockAlign;
  plan->passSize = DecodePassSize(facts.mpeg);
  return true;
}
