#include "convert/segmented_stream.h"

#include <algorithm>
#include <new>
#include <optional>

#include "convert/decoded_audio.h"
#include "convert/segment_decode.h"
#include "convert/source_format.h"
#include "platform/console.h"

namespace unpak {

enum class SegmentState { kFree, kClaimed, kDone };

struct Segment {
  SegmentState state = SegmentState::kFree;
  SegmentAudio audio;  // written by the thread that claimed it, read once done
};

struct SegmentedEntry {
  SegmentSource source;
  std::vector<Segment> segments;
  size_t written = 0;  // segments joined so far
};

namespace {

// Claims the first free segment within the helpers' reach ahead of the
// one to be written. Called under the helpers' lock.
std::optional<size_t> ClaimSegment(const SegmentHelpers& helpers, SegmentedEntry& entry) {
  const size_t reach = std::min(entry.segments.size(), entry.written + helpers.ahead + 1);
  for (size_t i = entry.written; i < reach; ++i) {
    if (entry.segments[i].state != SegmentState::kFree) continue;
    entry.segments[i].state = SegmentState::kClaimed;
    return i;
  }
  return std::nullopt;
}

void DecodeClaimed(SegmentHelpers& helpers, SegmentedEntry& entry, size_t index,
                   SegmentDecoderPtr* decoder, std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  SegmentAudio& audio = entry.segments[index].audio;
  try {
    DecodeSegment(entry.source, index, decoder, &audio);
  } catch (const std::bad_alloc&) {
    // The segment fails, and with it the entry, as a whole decode would.
    decoder->reset();
    audio = SegmentAudio{};
    audio.ok = false;
    audio.reason = "out of memory";
  }
  lock.lock();
  entry.segments[index].state = SegmentState::kDone;
  helpers.changed.notify_all();
}

// The decode loop's pass whose audio is being written, and whether it gave
// any: its "#" is printed once the next pass begins or the audio ends.
struct OpenPass {
  uint32_t index = 0;
  bool audio = false;
};

void EndPass(OpenPass& pass) {
  if (pass.audio) ConsolePrint("#");
  pass.audio = false;
}

// Writes one segment's audio as the decode loop would have, pass by pass.
// False, with the reason, when the write fails or the segment did not decode.
bool JoinSegment(const SegmentAudio& segment, DecodedAudio& audio, OpenPass& pass,
                 std::string* reason) {
  const uint8_t* data = segment.pcm.data();
  for (const auto& [index, bytes] : segment.passes) {
    if (index != pass.index) EndPass(pass);
    pass.index = index;
    pass.audio = true;
    if (!WriteAudio(audio, data, bytes)) {
      *reason = ChunkWriteFailure(audio.destination, "the decoded audio");
      return false;
    }
    data += bytes;
    if (audio.capped) {
      EndPass(pass);
      return true;
    }
  }
  if (!segment.ok) {
    // The loop stops in the pass that failed, without its mark.
    if (pass.index < segment.failedPass) EndPass(pass);
    *reason = segment.reason;
    return false;
  }
  if (segment.endBytes > 0) {
    // Once the source has ended the loop's passes are over.
    EndPass(pass);
    if (!WriteAudio(audio, data, segment.endBytes)) {
      *reason = ChunkWriteFailure(audio.destination, "the decoded audio");
      return false;
    }
  }
  return true;
}

}  // namespace

void HelpWithSegments(SegmentHelpers& helpers) {
  std::unique_lock<std::mutex> lock(helpers.mutex);
  while (!helpers.closed) {
    bool helped = false;
    for (SegmentedEntry* entry : helpers.entries) {
      const std::optional<size_t> index = ClaimSegment(helpers, *entry);
      if (!index) continue;
      // A helper's segments are seldom one after another: each has a decoder of its own.
      SegmentDecoderPtr decoder;
      DecodeClaimed(helpers, *entry, *index, &decoder, lock);
      helped = true;
      break;
    }
    if (!helped) helpers.changed.wait(lock);
  }
}

void CloseSegmentHelpers(SegmentHelpers& helpers) {
  {
    std::lock_guard<std::mutex> lock(helpers.mutex);
    helpers.closed = true;
  }
  helpers.changed.notify_all();
}

bool DecodeStreamInSegments(SegmentHelpers& helpers, const SegmentPlan& plan,
                            ChunkFile& destination, std::span<const uint8_t> destinationFormat,
                            std::span<const uint8_t> sourceFormat, std::span<const uint8_t> stream,
                            uint32_t decodedLength, uint64_t* decodedBytes, std::string* reason) {
  MpegLayer3Fields mpeg;
  WaveFormat input;
  if (!CheckSourceFormat(sourceFormat, &mpeg, &input, reason)) return false;
  const WaveFormat output = ReadWaveFormat(destinationFormat.data());
  DecodedAudio audio{destination, DelayBytes(input, output, mpeg.nCodecDelay), decodedLength,
                     output.wBitsPerSample};

  SegmentedEntry entry{{sourceFormat, destinationFormat, stream, plan},
                       std::vector<Segment>(plan.firstFrames.size())};
  std::unique_lock<std::mutex> lock(helpers.mutex);
  helpers.entries.push_back(&entry);
  helpers.changed.notify_all();
  SegmentDecoderPtr decoder;  // this thread's, going on from its last segment
  OpenPass pass;
  bool ok = true;
  while (ok && entry.written < entry.segments.size() && !audio.capped) {
    Segment& next = entry.segments[entry.written];
    if (next.state == SegmentState::kDone) {
      lock.unlock();
      try {
        ok = JoinSegment(next.audio, audio, pass, reason);
      } catch (const std::bad_alloc&) {
        ok = false;
        *reason = "out of memory";
      }
      next.audio = SegmentAudio{};
      lock.lock();
      ++entry.written;
      helpers.changed.notify_all();
    } else if (const std::optional<size_t> index = ClaimSegment(helpers, entry)) {
      DecodeClaimed(helpers, entry, *index, &decoder, lock);
    } else {
      helpers.changed.wait(lock);
    }
  }
  // The helpers still decoding a segment of this entry finish before it goes.
  std::erase(helpers.entries, &entry);
  helpers.changed.wait(lock, [&] {
    return std::none_of(entry.segments.begin(), entry.segments.end(),
                        [](const Segment& s) { return s.state == SegmentState::kClaimed; });
  });
  lock.unlock();
  if (ok) EndPass(pass);
  *decodedBytes = audio.written;
  return ok;
}

}  // namespace unpak
