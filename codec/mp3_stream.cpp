#include "codec/mp3_stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "codec/mp3_formats.h"

namespace {

// A decoder to s16 at `rate` with `channels`: the frames' own delay is kept
// (no gapless trimming), an Info/Xing frame decodes as a silent frame, each
// frame comes out as soon as it is complete, junk between frames is skipped
// however long it is, and channels are mixed or duplicated to the count asked.
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
  flags &= ~static_cast<long>(MPG123_GAPLESS);
  flags |= MPG123_IGNORE_INFOFRAME | MPG123_NO_READAHEAD | MPG123_QUIET |
           (mono ? MPG123_MONO_MIX : MPG123_FORCE_STEREO);
  if (error != MPG123_OK || mpg123_param(handle, MPG123_FLAGS, flags, 0) != MPG123_OK ||
      mpg123_param(handle, MPG123_RESYNC_LIMIT, -1, 0) != MPG123_OK ||
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

// On a format change: the frames must be at the source's rate. mpg123 would
// otherwise resample them quietly, so a stream whose format misstates its
// rate is not decoded any further.
int32_t CheckNewFormat(Mp3DecodeStream& stream) {
  mpg123_frameinfo info{};
  long rate = 0;
  int channels = 0;
  int encoding = 0;
  if (mpg123_info(stream.decoder.get(), &info) != MPG123_OK ||
      mpg123_getformat(stream.decoder.get(), &rate, &channels, &encoding) != MPG123_OK) {
    return Fail(stream, mpg123_strerror(stream.decoder.get()));
  }
  if (info.rate == static_cast<long>(stream.source.nSamplesPerSec) && rate == info.rate) {
    return kCodecOk;
  }
  char text[160];
  std::snprintf(text, sizeof text, "the stream's frames are at %ld Hz but its format says %u Hz",
                info.rate, stream.source.nSamplesPerSec);
  stream.broken = true;
  return Fail(stream, text);
}

// Reads decoded s16 audio into `out` until the decoder wants more input or
// `out` is full; `got` counts the bytes read.
int32_t ReadDecoded(Mp3DecodeStream& stream, uint8_t* out, size_t size, size_t* got) {
  *got = 0;
  while (*got < size) {
    size_t done = 0;
    const int status = mpg123_read(stream.decoder.get(), out + *got, size - *got, &done);
    *got += done;
    if (status == MPG123_NEW_FORMAT) {
      if (CheckNewFormat(stream) != kCodecOk) return kCodecError;
      continue;
    }
    if (status == MPG123_NEED_MORE || status == MPG123_DONE) break;
    if (status != MPG123_OK) return Fail(stream, mpg123_strerror(stream.decoder.get()));
    if (done == 0) break;
  }
  return kCodecOk;
}

// A free-format stream's frame length is only known from where the next
// frame's header stands, so such a stream cannot be decoded without reading
// ahead. The first Layer III header in the input tells which kind it is.
int32_t AllowReadAheadForFreeFormat(Mp3DecodeStream& stream, const uint8_t* input, uint32_t size) {
  for (uint32_t i = 0; i + 4 <= size; ++i) {
    const bool layer3 = input[i] == 0xFF && (input[i + 1] & 0xE6) == 0xE2;
    const uint8_t bitrateIndex = input[i + 2] >> 4;
    const bool validRate = ((input[i + 2] >> 2) & 3) != 3 && bitrateIndex != 15;
    if (!layer3 || !validRate) continue;
    stream.firstHeaderSeen = true;
    if (bitrateIndex != 0) return kCodecOk;
    long flags = 0;
    double unused = 0;
    mpg123_handle* handle = stream.decoder.get();
    if (mpg123_getparam(handle, MPG123_FLAGS, &flags, &unused) != MPG123_OK ||
        mpg123_param(handle, MPG123_FLAGS, flags & ~static_cast<long>(MPG123_NO_READAHEAD), 0) !=
            MPG123_OK) {
      return Fail(stream, mpg123_strerror(handle));
    }
    return kCodecOk;
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
    // About what the rest of the room holds once converted, at least one frame's worth.
    const uint64_t roomFrames = (room - *put) / stream.target.nBlockAlign;
    const uint64_t frames = std::max<uint64_t>(
        roomFrames * stream.source.nSamplesPerSec / stream.target.nSamplesPerSec + 1,
        stream.geometry.samplesPerFrame);
    stream.decoded.resize(frames * stream.target.nChannels);
    const size_t size = frames * frameBytes;
    size_t got = 0;
    if (ReadDecoded(stream, reinterpret_cast<uint8_t*>(stream.decoded.data()), size, &got) !=
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
  int32_t result = CheckMp3Source(source, sourceSize, &opened->source, reason);
  if (result == kCodecOk) result = CheckPcmTarget(target, targetSize, &opened->target, reason);
  if (result != kCodecOk) return result;
  const WaveFormat& to = opened->target;
  const uint32_t rate = opened->source.nSamplesPerSec;
  MpegGeometryForRate(rate, &opened->geometry);
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
  // Every frame is at least the smallest frame long; one frame begun in an
  // earlier call and one more for rounding may also complete. Converted audio
  // adds what the stage holds back and what is still pending.
  const uint64_t frames = input / stream.geometry.smallestFrame + 2;
  const uint64_t decoded = frames * stream.geometry.samplesPerFrame;
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
  const bool end = flags & kConvertEnd;
  uint32_t consumed = header.cbSrcLength;
  // At the end a trailing part block is all there is, so it is taken too.
  if ((flags & kConvertBlockAlign) && !end) consumed -= consumed % stream.source.nBlockAlign;
  if (consumed > 0 && stream.ended) return Fail(stream, "source bytes after the end of the stream");
  if (!stream.firstHeaderSeen &&
      AllowReadAheadForFreeFormat(stream, header.pbSrc, consumed) != kCodecOk) {
    return kCodecError;
  }
  if (consumed > 0 && mpg123_feed(stream.decoder.get(), header.pbSrc, consumed) != MPG123_OK) {
    return Fail(stream, mpg123_strerror(stream.decoder.get()));
  }
  header.cbSrcLengthUsed = consumed;

  // Whole sample frames only, so that a sample never straddles two calls.
  const uint32_t blockAlign = stream.target.nBlockAlign;
  const size_t room = header.cbDstLength / blockAlign * blockAlign;
  size_t put = 0;
  int32_t result = kCodecOk;
  if (stream.stage) {
    result = ConvertThroughStage(stream, header.pbDst, room, end, &put);
  } else {
    result = ReadDecoded(stream, header.pbDst, room, &put);
    if (end && put < room) stream.ended = true;
  }
  header.cbDstLengthUsed = static_cast<uint32_t>(put);
  return result;
}
