#include "mount/partial_audio.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "convert/decoded_audio.h"
#include "platform/file_copy.h"

namespace unpak {

namespace {

// Decodes segment `index` on `decoder` (going on from where it stopped, or
// started anew) and writes the part of its audio that the file keeps: past
// the codec delay and within the cap.
bool DecodeAndPlace(PartialAudio& audio, int fd, size_t index, SegmentDecoderPtr* decoder,
                    std::string* reason) {
  const SegmentPlan& plan = audio.plan;
  SegmentAudio decoded;
  try {
    DecodeSegment({audio.facts.sourceFormat, audio.facts.targetBlock, audio.stream, plan}, index,
                  decoder, &decoded);
  } catch (const std::bad_alloc&) {
    decoder->reset();
    *reason = "out of memory";
    return false;
  }
  if (!decoded.ok) {
    decoder->reset();
    *reason = decoded.reason;
    return false;
  }
  // The segments' audio lies where whole frames before it put it, which
  // holds for all but a stream that decodes some frames to other lengths.
  const uint64_t start = SegmentAudioStart(plan, index);
  const bool last = index + 1 == plan.firstFrames.size();
  if (!last && decoded.pcm.size() != SegmentAudioStart(plan, index + 1) - start) {
    *reason = "a part of its audio decodes to another length than its frames state";
    return false;
  }
  const uint64_t from = std::max(start, audio.delayBytes);
  const uint64_t to = std::min(start + decoded.pcm.size(), audio.delayBytes + audio.facts.audioBytes);
  if (from < to && !WriteAllAt(fd, decoded.pcm.data() + (from - start), to - from,
                               static_cast<int64_t>(audio.audioStart + from - audio.delayBytes))) {
    *reason = std::string("cannot write the decoded audio: ") + std::strerror(errno);
    return false;
  }
  return true;
}

bool FillSegment(PartialAudio& audio, int fd, size_t index,
                 const std::function<bool(std::string*)>& sourceIntact, std::string* reason) {
  std::unique_lock<std::mutex> lock(audio.mutex);
  SegmentFill& fill = audio.segments[index];
  audio.settled.wait(lock, [&] { return fill != SegmentFill::kDecoding; });
  if (fill == SegmentFill::kFilled) return true;
  if (fill == SegmentFill::kFailed) {
    *reason = audio.failure;
    return false;
  }
  fill = SegmentFill::kDecoding;
  // A reader going through the file in order goes on with the decoder that
  // stopped where this segment starts, without a warm-up.
  SegmentDecoderPtr decoder;
  if (audio.spare && audio.spare->position == audio.plan.frameStarts[audio.plan.firstFrames[index]]) {
    decoder = std::move(audio.spare);
  }
  lock.unlock();
  std::string failure;
  const bool filled = DecodeAndPlace(audio, fd, index, &decoder, &failure) && sourceIntact(&failure);
  lock.lock();
  fill = filled ? SegmentFill::kFilled : SegmentFill::kFailed;
  if (!filled) audio.failure = failure;
  const bool next = index + 1 < audio.segments.size();
  if (filled && next && audio.segments[index + 1] == SegmentFill::kMissing) {
    audio.spare = std::move(decoder);
  }
  audio.settled.notify_all();
  if (!filled) *reason = failure;
  return filled;
}

}  // namespace

std::unique_ptr<PartialAudio> PlanPartialAudio(const EntryFacts& facts,
                                               std::span<const uint8_t> stream) {
  auto audio = std::make_unique<PartialAudio>();
  if (!PlanSegments(facts, stream, &audio->plan)) return nullptr;
  audio->targetBlock.assign(facts.targetBlock.begin(), facts.targetBlock.end());
  audio->facts = facts;
  audio->facts.targetBlock = audio->targetBlock;
  audio->stream = stream;
  audio->delayBytes = DelayBytes(facts.source, facts.target, facts.mpeg.nCodecDelay);
  audio->segments.assign(audio->plan.firstFrames.size(), SegmentFill::kMissing);
  return audio;
}

bool FillAudio(PartialAudio& audio, int fd, uint64_t begin, uint64_t end,
               const std::function<bool(std::string*)>& sourceIntact, std::string* reason) {
  const uint64_t audioEnd = audio.audioStart + audio.facts.audioBytes;
  const uint64_t first = std::clamp(begin, audio.audioStart, audioEnd) - audio.audioStart;
  const uint64_t last = std::clamp(end, audio.audioStart, audioEnd) - audio.audioStart;
  if (first >= last) return true;
  const size_t to = SegmentHolding(audio.plan, last - 1 + audio.delayBytes);
  for (size_t index = SegmentHolding(audio.plan, first + audio.delayBytes); index <= to; ++index) {
    if (!FillSegment(audio, fd, index, sourceIntact, reason)) return false;
  }
  return true;
}

}  // namespace unpak
