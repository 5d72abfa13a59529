#include "convert/segment_decode.h"

#include <algorithm>
#include <cstring>

#include "convert/decoded_audio.h"

namespace unpak {

namespace {

SegmentDecoderPtr OpenSegmentDecoder(const SegmentSource& source, uint32_t position,
                                     std::string* reason) {
  SegmentDecoderPtr decoder(new SegmentDecoder);
  decoder->stream = CodecStreamOpen(source.sourceFormat, source.destinationFormat, reason);
  if (!decoder->stream) return nullptr;
  uint32_t destinationSize = 0;
  if (!CodecStreamSize(*decoder->stream, source.plan.passSize, &destinationSize,
                       kStreamSizeSource) ||
      destinationSize < source.plan.frameBytes) {
    *reason = "the codec gives no output size for the MP3 audio";
    return nullptr;
  }
  PrepareConversion(*decoder->stream, source.plan.passSize, destinationSize, &decoder->buffers);
  decoder->position = position;
  decoder->outputAlign = ReadWaveFormat(source.destinationFormat.data()).nBlockAlign;
  return decoder;
}

// Keeps what one conversion put out, past the warm-up still to drop, as
// `pass`'s audio (or the end's, for kEndPass).
constexpr uint32_t kEndPass = UINT32_MAX;
void KeepOutput(const uint8_t* data, uint32_t produced, uint32_t pass, uint64_t* warmUpLeft,
                SegmentAudio* audio) {
  const uint32_t drop = static_cast<uint32_t>(std::min<uint64_t>(*warmUpLeft, produced));
  *warmUpLeft -= drop;
  const uint32_t kept = produced - drop;
  if (kept == 0) return;
  audio->pcm.insert(audio->pcm.end(), data + drop, data + produced);
  if (pass == kEndPass) {
    audio->endBytes += kept;
  } else if (!audio->passes.empty() && audio->passes.back().first == pass) {
    audio->passes.back().second += kept;
  } else {
    audio->passes.emplace_back(pass, kept);
  }
}

// Converts `count` bytes (none at the end), as a pass of the decode loop
// does: until the codec has taken them all and put out everything they give.
bool Convert(SegmentDecoder& decoder, uint32_t count, uint32_t pass, uint32_t flags,
             uint64_t* warmUpLeft, SegmentAudio* audio) {
  CodecStreamHeader& header = decoder.buffers.header;
  uint8_t* source = decoder.buffers.source.data();
  for (bool more = true; more;) {
    header.cbSrcLength = count;
    if (!CodecStreamConvert(*decoder.stream, header, flags)) {
      audio->reason = DecodeFailure(*decoder.stream);
      return false;
    }
    KeepOutput(decoder.buffers.destination.data(), header.cbDstLengthUsed, pass, warmUpLeft, audio);
    const bool moved = header.cbSrcLengthUsed > 0 || header.cbDstLengthUsed > 0;
    count -= header.cbSrcLengthUsed;
    if (count > 0) std::memmove(source, source + header.cbSrcLengthUsed, count);
    const bool full = header.cbDstLengthUsed + decoder.outputAlign > header.cbDstLength;
    more = moved && (count > 0 || full || (flags & kConvertEnd));
  }
  return true;
}

}  // namespace

void SegmentDecoderDeleter::operator()(SegmentDecoder* decoder) const {
  if (decoder->stream) CodecStreamUnprepareHeader(*decoder->stream, decoder->buffers.header);
  delete decoder;
}

void DecodeSegment(const SegmentSource& source, size_t index, SegmentDecoderPtr* decoder,
                   SegmentAudio* audio) {
  const SegmentPlan& plan = source.plan;
  const uint32_t first = plan.firstFrames[index];
  const bool last = index + 1 == plan.firstFrames.size();
  const uint32_t start = plan.frameStarts[first];
  const uint32_t stop = last ? static_cast<uint32_t>(source.stream.size())
                             : plan.frameStarts[plan.firstFrames[index + 1]];
  uint64_t warmUpLeft = 0;
  if (!*decoder || (*decoder)->position != start) {
    const uint32_t warmUp = first - WarmUpStart(plan, first);
    *decoder = OpenSegmentDecoder(source, plan.frameStarts[first - warmUp], &audio->reason);
    if (!*decoder) {
      audio->ok = false;
      return;
    }
    warmUpLeft = uint64_t{warmUp} * plan.frameBytes;
  }
  SegmentDecoder& d = **decoder;
  // Its audio at once, without the copies of a growing buffer (the last
  // segment's tail past its frames, if any, grows it).
  audio->pcm.reserve(size_t{plan.frameBytes} * (last ? plan.frameStarts.size() - first
                                                     : plan.firstFrames[index + 1] - first));
  // Slices end where the loop's passes end, so that each piece of audio
  // comes out in the pass it would come out in when decoded whole.
  while (d.position < stop) {
    const uint32_t pass = d.position / plan.passSize;
    const uint32_t end = std::min<uint64_t>(stop, uint64_t{pass + 1} * plan.passSize);
    const uint32_t count = end - d.position;
    std::memcpy(d.buffers.source.data(), source.stream.data() + d.position, count);
    d.position = end;
    if (!Convert(d, count, pass, 0, &warmUpLeft, audio)) {
      audio->ok = false;
      audio->failedPass = pass;
      return;
    }
  }
  if (last && !Convert(d, 0, kEndPass, kConvertEnd, &warmUpLeft, audio)) {
    audio->ok = false;
    audio->failedPass = kEndPass;
  }
}

}  // namespace unpak
