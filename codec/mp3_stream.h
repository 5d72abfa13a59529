#pragma once

// One MP3-to-PCM conversion over libmpg123 in feed mode.

#include <mpg123.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/mpeg_rates.h"
#include "platform/codec_driver.h"
#include "platform/wave_format.h"

struct Mpg123Deleter {
  void operator()(mpg123_handle* handle) const { mpg123_delete(handle); }
};
using Mpg123Ptr = std::unique_ptr<mpg123_handle, Mpg123Deleter>;

struct Mp3DecodeStream {
  Mpg123Ptr decoder;
  WaveFormat source;
  WaveFormat target;
  MpegFrameGeometry geometry;
  std::vector<uint8_t> scratch;  // s16 audio on its way to an 8-bit target
  std::string lastError;
  bool broken = false;  // the frames' rate differs from the format's: nothing more is decoded
  bool firstHeaderSeen = false;
};

// Checks both formats and sets up the decoder. kCodecOk with a new stream, or
// kCodecNotPossible / kCodecError with a reason.
int32_t OpenMp3Stream(const uint8_t* source, uint32_t sourceSize, const uint8_t* target,
                      uint32_t targetSize, std::unique_ptr<Mp3DecodeStream>* stream,
                      std::string* reason);

// Most PCM bytes that `input` source bytes yield in one conversion.
int32_t Mp3StreamSize(const Mp3DecodeStream& stream, uint32_t input, uint32_t* output,
                      uint32_t flags);

// Feeds the request's source bytes and writes as much PCM as is ready.
int32_t ConvertMp3Stream(Mp3DecodeStream& stream, CodecStreamHeader& header, uint32_t flags);
