#pragma once

// One conversion from 16-bit PCM to an encoded target, with a PCM stage in
// front when the target's rate or channel count differs from the source's.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/encoder_formats.h"
#include "codec/gsm_encoder.h"
#include "codec/ima_adpcm_encoder.h"
#include "codec/pcm_stage.h"
#include "platform/codec_driver.h"
#include "platform/wave_format.h"

namespace unpak {

struct EncoderStream {
  WaveFormat source;
  EncoderTarget target;
  PcmStagePtr stage;                // null when rate and channels already match
  bool stageEnded = false;          // the stage has put out its last audio
  std::vector<int16_t> held;        // target frames short of a whole block, kept for later
  std::vector<int16_t> stageInput;  // source frames, aligned for the stage
  std::vector<uint8_t> stageOutput;
  std::vector<uint8_t> pending;  // encoded bytes that did not fit a destination yet
  ImaChannelState ima[2];
  GsmPtr gsm;
  std::string lastError;
};

// Checks both formats and sets up the encoder. kCodecOk with a new stream,
// or kCodecNotPossible / kCodecError with a reason (none when the source is
// not PCM at all).
int32_t OpenEncoderStream(const uint8_t* source, uint32_t sourceSize, const uint8_t* target,
                          uint32_t targetSize, std::unique_ptr<EncoderStream>* stream,
                          std::string* reason);

// kStreamSizeSource: most bytes that `input` source bytes yield, counting
// what the stream holds. kStreamSizeDestination: most source bytes whose
// encoding fills whole blocks of `input` destination bytes (exact without a
// stage, scaled by the rate ratio with one).
int32_t EncoderStreamSize(const EncoderStream& stream, uint32_t input, uint32_t* output,
                          uint32_t flags);

// Takes every whole source frame of the request (without a stage, with
// kConvertBlockAlign and not kConvertEnd: whole blocks only), encodes it and
// writes what fits. Without a stage a trailing part block is padded with
// silence; with one it is kept until kConvertEnd.
int32_t ConvertEncoderStream(EncoderStream& stream, CodecStreamHeader& header, uint32_t flags);

}  // namespace unpak
