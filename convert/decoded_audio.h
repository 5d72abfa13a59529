#pragma once

// What the decode stage does with decoded audio, whichever way it is
// decoded: its passes over the source, the codec delay cut from the front
// and the cap at the stated length.

#include <cstdint>
#include <string>

#include "platform/chunk_file.h"
#include "platform/codec_service.h"
#include "platform/wave_format.h"

namespace unpak {

// Source bytes that one pass of the decode loop reads.
uint32_t DecodePassSize(const MpegLayer3Fields& mpeg);

// Where decoded audio goes: the codec delay is cut from its front, across as
// many passes as it takes, and it is capped at decodedLength bytes.
struct DecodedAudio {
  ChunkFile& destination;
  uint64_t delayLeft;  // bytes
  uint32_t decodedLength;
  uint16_t bitsPerSample;
  uint64_t written = 0;
  bool capped = false;
};

// The codec delay in bytes of the output: nCodecDelay frames at the source's
// rate, which are fewer or more frames when the output has another rate.
uint64_t DelayBytes(const WaveFormat& source, const WaveFormat& output, uint16_t codecDelay);

// Writes one call's output, past the delay and up to the cap. False when
// the write fails.
bool WriteAudio(DecodedAudio& audio, const uint8_t* data, uint32_t produced);

// Why the codec stream failed to decode, as the decode stage says it.
std::string DecodeFailure(CodecStream& stream);

}  // namespace unpak
