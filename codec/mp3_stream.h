#pragma once

// One MP3-to-PCM conversion over libmpg123 in feed mode.

#include <mpg123.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/mp3_framer.h"
#include "codec/pcm_stage.h"
#include "platform/codec_driver.h"
#include "platform/wave_format.h"

namespace unpak {

struct Mpg123Deleter {
  void operator()(mpg123_handle* handle) const { mpg123_delete(handle); }
};
using Mpg123Ptr = std::unique_ptr<mpg123_handle, Mpg123Deleter>;

struct Mp3DecodeStream {
  Mpg123Ptr decoder;  // gives s16 at the source's rate and the target's channel count
  WaveFormat source;
  WaveFormat target;
  uint32_t samplesPerFrame = 0;  // per channel, at the source's rate
  uint32_t smallestFrame = 0;    // bytes of a frame at the lowest bitrate, rounded down
  // Source bytes on their way to the decoder, which gets whole frames only.
  Mp3Framer framer;
  // To the target's rate and width; null when the decoder's output is the target.
  PcmStagePtr stage;
  std::vector<int16_t> decoded;  // decoder output on its way through the stage
  std::vector<uint8_t> pending;  // converted audio that has not fitted a destination yet
  size_t pendingStart = 0;       // bytes of `pending` already put out
  std::string lastError;
  bool broken = false;  // a frame was refused: nothing more is decoded
  bool fed = false;     // the decoder has had its first frame
  bool ended = false;   // the source has ended: what was held back is out or pending
};

// Checks both formats and sets up the decoder. kCodecOk with a new stream, or
// kCodecNotPossible / kCodecError with a reason.
int32_t OpenMp3Stream(const uint8_t* source, uint32_t sourceSize, const uint8_t* target,
                      uint32_t targetSize, std::unique_ptr<Mp3DecodeStream>* stream,
                      std::string* reason);

// Most PCM bytes that `input` source bytes yield in one conversion, counting
// converted audio still pending and what the end of the stream puts out.
int32_t Mp3StreamSize(const Mp3DecodeStream& stream, uint32_t input, uint32_t* output,
                      uint32_t flags);

// Takes the request's source bytes (fewer while it holds much it has not
// decoded yet) and writes as much PCM as is ready, pending audio first; a
// frame is decoded only when the destination has room for it. With
// kConvertEnd, once every source byte is in and decoded, also puts out what
// the conversion to the target holds back; no source may follow.
int32_t ConvertMp3Stream(Mp3DecodeStream& stream, CodecStreamHeader& header, uint32_t flags);

}  // namespace unpak
