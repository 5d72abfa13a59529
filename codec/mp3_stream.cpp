#include "codec/mp3_stream.h"

#include <algorithm>
#include <cstring>

#include "codec/mp3_formats.h"
#include "codec/reason_text.h"
#include "platform/mpeg_layer3.h"

namespace unpak {

namespace {

// Source bytes held undecoded before the stream takes no more: far more than
// a pass of the decode loop brings, as its audio comes out before the next.
constexpr size_t kMaxHeldSource = 256 * 1024;
// Sample frames decoded at a time on their way through the stage: this bounds
// the converted audio pending at once, whatever the destination's size.
constexpr uint64_t kMaxStageFrames = 16384;

// A decoder to s16 at `rate` with `channels`: the frames' own delay is kept
// (no gapless trimming), an Info/Xing frame decodes as a silent frame, each
// frame comes out as soon as it is fed (the framer feeds whole frames only),
// nothing is resampled, and channels are mixed or duplicated to the count
// asked.
Mpg123Ptr OpenDecoder(uint32_t rate, uint16_t channels, std::string* reason) {
  int error = MPG123_OK;
  Mpg123Ptr decoder(mpg123_new(nullptr, &error));
  if (!decoder) {
    *reason = std::string("cannot create an MPEG decoder: ") + mpg123_plain_strerror(error);
    return nullptr;
  }
  long flags = 0;
  double unused = 0;
  mpg123_handle* handle = decoder.get();
  const bool mono = channels == 1;
  if (mpg123_getparam(handle, MPG123_FLAGS, &flags, &unused) != MPG123_OK) error = MPG123_ERR;
  flags &= ~static_cast<long>(MPG123_GAPLESS | MPG123_AUTO_RESAMPLE);
  flags |= MPG123_IGNORE_INFOFRAME | MPG123_NO_READAHEAD | MPG123_QUIET |
           (mono ? MPG123_MONO_MIX : MPG123_FORCE_STEREO);
  if (error != MPG123_OK || mpg123_param(handle, MPG123_FLAGS, flags, 0) != MPG123_OK ||
      mpg123_format_none(handle) != MPG123_OK ||
      mpg123_format(handle, rate, mono ? MPG123_MONO : MPG123_STEREO, MPG123_ENC_SIGNED_16) !=
          MPG123_OK ||
      mpg123_open_feed(handle) != MPG123_OK) {
    *reason = std::string("cannot set up the MPEG decoder: ") + mpg123_strerror(handle);
    return nullptr;
  }
  return decoder;
}

int32_t Fail(Mp3DecodeStream& stream, std::string text) {
  stream.lastError = std::move(text);
  return kCodecError;
}

// Nothing more of the stream is decoded.
int32_t Refuse(Mp3DecodeStream& stream, std::string text) {
  stream.broken = true;
  return Fail(stream, std::move(text));
}

// Hands the decoder the next frame the framer finds; `fed` is false when it
// needs more bytes. A frame at another rate than the format's is refused, as
// the decoder would resample it, and so is one of the other kind (fixed
// bitrate or free format) than the first, whose length the decoder would
// take wrongly.
int32_t FeedNextFrame(Mp3DecodeStream& stream, bool end, bool* fed) {
  const std::optional<Mp3Frame> frame = NextMp3Frame(stream.framer, end);
  *fed = frame.has_value();
  if (!frame) return kCodecOk;
  const Layer3Header& header = frame->header;
  if (header.rate != stream.source.nSamplesPerSec) {
    return Refuse(stream, ReasonText("the stream's frames are at %u Hz but its format says %u Hz",
                                     header.rate, stream.source.nSamplesPerSec));
  }
  mpg123_handle* decoder = stream.decoder.get();
  if (!stream.fed && header.freeFormat) {
    // Told the frames' length, the decoder need not read ahead to find it;
    // it takes the length when a stream is opened.
    if (mpg123_param(decoder, MPG123_FREEFORMAT_SIZE, stream.framer.freeLength - kLayer3HeaderSize,
                     0) != MPG123_OK ||
        mpg123_open_feed(decoder) != MPG123_OK) {
      return Fail(stream, mpg123_strerror(decoder));
    }
  } else if (stream.fed && header.freeFormat != stream.framer.freeFormat) {
    return Refuse(stream, header.freeFormat
                              ? "the stream's frames change from a fixed bitrate to free format"
                              : "the stream's frames change from free format to a fixed bitrate");
  }
  stream.fed = true;
  if (mpg123_feed(decoder, frame->bytes.data(), frame->bytes.size()) != MPG123_OK) {
    return Fail(stream, mpg123_strerror(decoder));
  }
  return kCodecOk;
}

// Decodes s16 audio into `out` until it is full, or until the decoder has
// nothing left and the framer finds no more frames; `got` counts the bytes.
// `end`: no source follows.
int32_t Decode(Mp3DecodeStream& stream, uint8_t* out, size_t size, bool end, size_t* got) {
  *got = 0;
  for (bool fed = true; fed;) {
    while (*got < size) {
      size_t done = 0;
      const int status = mpg123_read(stream.decoder.get(), out + *got, size - *got, &done);
      *got += done;
      if (status == MPG123_NEED_MORE || status == MPG123_DONE) break;
      if (status != MPG123_OK && status != MPG123_NEW_FORMAT) {
        return Fail(stream, mpg123_strerror(stream.decoder.get()));
      }
      if (status == MPG123_OK && done == 0) break;
    }
    if (*got == size) break;
    // Each frame is decoded as soon as it is fed: bytes piling up in the
    // decoder are frames it does not take.
    long held = 0;
    double unused = 0;
    if (mpg123_getstate(stream.decoder.get(), MPG123_BUFFERFILL, &held, &unused) != MPG123_OK ||
        held > long{kLongestLayer3Frame}) {
      return Refuse(stream, "libmpg123 does not decode the stream's frames");
    }
    if (FeedNextFrame(stream, end, &fed) != kCodecOk) return kCodecError;
  }
  return kCodecOk;
}

// Copies as much pending audio as fits `room` bytes to `out`; the count copied.
size_t PutPending(Mp3DecodeStream& stream, uint8_t* out, size_t room) {
  const size_t count = std::min(room, stream.pending.size() - stream.pendingStart);
  if (count == 0) return 0;
  std::memcpy(out, stream.pending.data() + stream.pendingStart, count);
  stream.pendingStart += count;
  if (stream.pendingStart == stream.pending.size()) {
    stream.pending.clear();
    stream.pendingStart = 0;
  }
  return count;
}

int32_t ConvertToPending(Mp3DecodeStream& stream, size_t frames, bool end) {
  std::string reason;
  if (!PcmStageProcess(*stream.stage, stream.decoded.data(), frames, end, &stream.pending,
                       &reason)) {
    return Fail(stream, reason);
  }
  return kCodecOk;
}

// Fills `room` bytes at `out` with pending audio, then with newly decoded
// audio run through the stage; what does not fit stays pending. With `end`,
// once the decoder has nothing more, the stage is ended and its tail follows.
int32_t ConvertThroughStage(Mp3DecodeStream& stream, uint8_t* out, size_t room, bool end,
                            size_t* put) {
  *put = PutPending(stream, out, room);
  const size_t frameBytes = 2u * stream.target.nChannels;
  bool dry = false;
  while (*put < room && !dry) {
    // About what the rest of the room holds once converted, at least one
    // MPEG frame's worth.
    const uint64_t roomFrames = (room - *put) / stream.target.nBlockAlign;
    const uint64_t frames = std::clamp<uint64_t>(
        roomFrames * stream.source.nSamplesPerSec / stream.target.nSamplesPerSec + 1,
        stream.samplesPerFrame, kMaxStageFrames);
    stream.decoded.resize(frames * stream.target.nChannels);
    const size_t size = frames * frameBytes;
    size_t got = 0;
    if (Decode(stream, reinterpret_cast<uint8_t*>(stream.decoded.data()), size, end, &got) !=
            kCodecOk ||
        ConvertToPending(stream, got / frameBytes, false) != kCodecOk) {
      return kCodecError;
    }
    dry = got < size;
    *put += PutPending(stream, out + *put, room - *put);
  }
  if (end && dry && !stream.ended) {
    if (ConvertToPending(stream, 0, true) != kCodecOk) return kCodecError;
    stream.ended = true;
    *put += PutPending(stream, out + *put, room - *put);
  }
  return kCodecOk;
}

}  // namespace

int32_t OpenMp3Stream(const uint8_t* source, uint32_t sourceSize, const uint8_t* target,
                      uint32_t targetSize, std::unique_ptr<Mp3DecodeStream>* stream,
                      std::string* reason) {
  auto opened = std::make_unique<Mp3DecodeStream>();
  int32_t result = CheckDecoderSource(source, sourceSize, &opened->source, reason);
  if (result == kCodecOk) result = CheckPcmTarget(target, targetSize, &opened->target, reason);
  if (result != kCodecOk) return result;
  const WaveFormat& to = opened->target;
  const uint32_t rate = opened->source.nSamplesPerSec;
  opened->samplesPerFrame = Layer3FrameSamples(rate);
  opened->smallestFrame = Layer3SmallestFrame(rate);
  opened->framer.rate = rate;
  opened->decoder = OpenDecoder(rate, to.nChannels, reason);
  if (!opened->decoder) return kCodecError;
  if (to.wBitsPerSample != 16 || to.nSamplesPerSec != rate) {
    opened->stage = CreatePcmStage(rate, to.nChannels,
                                   {to.nSamplesPerSec, to.nChannels, to.wBitsPerSample}, reason);
    if (!opened->stage) return kCodecError;
  }
  *stream = std::move(opened);
  return kCodecOk;
}

int32_t Mp3StreamSize(const Mp3DecodeStream& stream, uint32_t input, uint32_t* output,
                      uint32_t flags) {
  if (flags != kStreamSizeSource) return kCodecNotPossible;
  // Every frame is at least the smallest frame long, among the bytes held and
  // the new ones; one more frame may complete for rounding. Converted audio
  // adds what the stage holds back and what is still pending.
  const uint64_t frames =
      (uint64_t{input} + Mp3FramerHeld(stream.framer)) / stream.smallestFrame + 2;
  const uint64_t decoded = frames * stream.samplesPerFrame;
  const uint64_t bytes = stream.stage ? PcmStageMaxOutputBytes(*stream.stage, decoded) +
                                            stream.pending.size() - stream.pendingStart
                                      : decoded * stream.target.nBlockAlign;
  if (bytes > UINT32_MAX) return kCodecNotPossible;
  *output = static_cast<uint32_t>(bytes);
  return kCodecOk;
}

int32_t ConvertMp3Stream(Mp3DecodeStream& stream, CodecStreamHeader& header, uint32_t flags) {
  header.cbSrcLengthUsed = 0;
  header.cbDstLengthUsed = 0;
  if (stream.broken) return kCodecError;
  const bool endFlag = flags & kConvertEnd;
  const size_t held = std::min(Mp3FramerHeld(stream.framer), kMaxHeldSource);
  uint32_t consumed =
      static_cast<uint32_t>(std::min<size_t>(header.cbSrcLength, kMaxHeldSource - held));
  // At the end a trailing part block is all there is, so it is taken too.
  if ((flags & kConvertBlockAlign) && !endFlag) consumed -= consumed % stream.source.nBlockAlign;
  if (consumed > 0 && stream.ended) return Fail(stream, "source bytes after the end of the stream");
  AddToMp3Framer(stream.framer, header.pbSrc, consumed);
  header.cbSrcLengthUsed = consumed;
  // The end counts once every source byte is in.
  const bool end = endFlag && consumed == header.cbSrcLength;

  // Whole sample frames only, so that a sample never straddles two calls.
  const uint32_t blockAlign = stream.target.nBlockAlign;
  const size_t room = header.cbDstLength / blockAlign * blockAlign;
  size_t put = 0;
  int32_t result = kCodecOk;
  if (stream.stage) {
    result = ConvertThroughStage(stream, header.pbDst, room, end, &put);
  } else {
    result = Decode(stream, header.pbDst, room, end, &put);
    if (end && put < room) stream.ended = true;
  }
  header.cbDstLengthUsed = static_cast<uint32_t>(put);
  return result;
}

}  // namespace unpak
