#include "convert/segment_plan.h"

#include <algorithm>
#include <optional>

#include "convert/decoded_audio.h"
#include "platform/mpeg_layer3.h"

namespace unpak {

std::vector<uint32_t> FollowFrames(std::span<const uint8_t> stream, uint32_t rate) {
  std::vector<uint32_t> starts;
  for (size_t at = 0; at + kLayer3HeaderSize <= stream.size();) {
    // Free-format frames state no length; frames shorter than their header,
    // checksum and side information are junk to the codec: a plan stops
    // before either.
    const std::optional<Layer3Header> header = ReadLayer3Header(stream.data() + at);
    if (!header || header->rate != rate || header->length < header->shortest ||
        header->length > stream.size() - at) {
      break;
    }
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

uint64_t SegmentAudioStart(const SegmentPlan& plan, size_t index) {
  return uint64_t{plan.firstFrames[index]} * plan.frameBytes;
}

size_t SegmentHolding(const SegmentPlan& plan, uint64_t decodedByte) {
  const uint64_t frame = decodedByte / plan.frameBytes;
  const auto after = std::upper_bound(plan.firstFrames.begin(), plan.firstFrames.end(), frame);
  return static_cast<size_t>(after - plan.firstFrames.begin()) - 1;
}

bool PlanSegments(const EntryFacts& facts, std::span<const uint8_t> stream, SegmentPlan* plan) {
  const WaveFormat& target = facts.target;
  if (!facts.intermediate.empty() || target.nSamplesPerSec != facts.source.nSamplesPerSec ||
      facts.source.nBlockAlign != 1 || EntryDurationSeconds(facts) < kMinSegmentedSeconds) {
    return false;
  }
  plan->frameStarts = FollowFrames(stream, target.nSamplesPerSec);
  const uint64_t frames = plan->frameStarts.size();
  const uint32_t samplesPerFrame = Layer3FrameSamples(target.nSamplesPerSec);
  if (frames == 0 || !ReadLayer3Header(stream.data())->mpeg1 ||
      frames * samplesPerFrame < kMinSegmentedSeconds * target.nSamplesPerSec) {
    return false;
  }
  const uint64_t segments = std::max<uint64_t>(2, (frames + kSegmentFrames / 2) / kSegmentFrames);
  plan->firstFrames.clear();
  for (uint64_t i = 0; i < segments; ++i) {
    plan->firstFrames.push_back(static_cast<uint32_t>(i * frames / segments));
  }
  plan->frameBytes = samplesPerFrame * target.nBlockAlign;
  plan->passSize = DecodePassSize(facts.mpeg);
  return true;
}

}  // namespace unpak
