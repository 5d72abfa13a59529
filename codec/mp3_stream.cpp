#include "codec/mp3_stream.h"

#include <cstdio>
#include <cstring>

#include "codec/mp3_formats.h"

namespace {

// A decoder for `target`: the frames' own delay is kept (no gapless
// trimming), an Info/Xing frame decodes as a silent frame, each frame comes
// out as soon as it is complete, junk between frames is skipped however long
// it is, and channels are mixed or duplicated to the target's count.
Mpg123Ptr OpenDecoder(const WaveFormat& target, std::string* reason) {
  int error = MPG123_OK;
  Mpg123Ptr decoder(mpg123_new(nullptr, &error));
  if (!decoder) {
    *reason = std::string("cannot create an MPEG decoder: ") + mpg123_plain_strerror(error);
    return nullptr;
  }
  long flags = 0;
  double unused = 0;
  mpg123_handle* handle = decoder.get();
  const bool mono = target.nChannels == 1;
  if (mpg123_getparam(handle, MPG123_FLAGS, &flags, &unused) != MPG123_OK) error = MPG123_ERR;
  flags &= ~static_cast<long>(MPG123_GAPLESS);
  flags |= MPG123_IGNORE_INFOFRAME | MPG123_NO_READAHEAD | MPG123_QUIET |
           (mono ? MPG123_MONO_MIX : MPG123_FORCE_STEREO);
  if (error != MPG123_OK || mpg123_param(handle, MPG123_FLAGS, flags, 0) != MPG123_OK ||
      mpg123_param(handle, MPG123_RESYNC_LIMIT, -1, 0) != MPG123_OK ||
      mpg123_format_none(handle) != MPG123_OK ||
      mpg123_format(handle, target.nSamplesPerSec, mono ? MPG123_MONO : MPG123_STEREO,
                    MPG123_ENC_SIGNED_16) != MPG123_OK ||
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
int32_t AllowReadAheadForFreeFormat(Mp3DecodeStream& stream, const uint8_t* input,
                                    uint32_t size) {
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

}  // namespace

int32_t OpenMp3Stream(const uint8_t* source, uint32_t sourceSize, const uint8_t* target,
                      uint32_t targetSize, std::unique_ptr<Mp3DecodeStream>* stream,
                      std::string* reason) {
  auto opened = std::make_unique<Mp3DecodeStream>();
  int32_t result = CheckMp3Source(source, sourceSize, &opened->source, reason);
  if (result == kCodecOk) {
    result = CheckPcmTarget(target, targetSize, opened->source, &opened->target, reason);
  }
  if (result != kCodecOk) return result;
  MpegGeometryForRate(opened->source.nSamplesPerSec, &opened->geometry);
  opened->decoder = OpenDecoder(opened->target, reason);
  if (!opened->decoder) return kCodecError;
  *stream = std::move(opened);
  return kCodecOk;
}

int32_t Mp3StreamSize(const Mp3DecodeStream& stream, uint32_t input, uint32_t* output,
                      uint32_t flags) {
  if (flags != kStreamSizeSource) return kCodecNotPossible;
  // Every frame is at least the smallest frame long; one frame begun in an
  // earlier call and one more for rounding may also complete.
  const uint64_t frames = input / stream.geometry.smallestFrame + 2;
  const uint64_t bytes = frames * stream.geometry.samplesPerFrame * stream.target.nBlockAlign;
  if (bytes > UINT32_MAX) return kCodecNotPossible;
  *output = static_cast<uint32_t>(bytes);
  return kCodecOk;
}

int32_t ConvertMp3Stream(Mp3DecodeStream& stream, CodecStreamHeader& header, uint32_t flags) {
  header.cbSrcLengthUsed = 0;
  header.cbDstLengthUsed = 0;
  if (stream.broken) return kCodecError;
  uint32_t consumed = header.cbSrcLength;
  if (flags & kConvertBlockAlign) consumed -= consumed % stream.source.nBlockAlign;
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
  size_t got = 0;
  int32_t result = kCodecOk;
  if (stream.target.wBitsPerSample == 16) {
    result = ReadDecoded(stream, header.pbDst, room, &got);
    header.cbDstLengthUsed = static_cast<uint32_t>(got);
  } else {
    stream.scratch.resize(room * 2);
    result = ReadDecoded(stream, stream.scratch.data(), stream.scratch.size(), &got);
    const size_t samples = got / 2;
    for (size_t i = 0; i < samples; ++i) {
      int16_t sample;
      std::memcpy(&sample, stream.scratch.data() + 2 * i, 2);
      header.pbDst[i] = static_cast<uint8_t>((sample >> 8) + 128);
    }
    header.cbDstLengthUsed = static_cast<uint32_t>(samples);
  }
  return result;
}
