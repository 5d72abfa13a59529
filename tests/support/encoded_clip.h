#pragma once

#include <cstdint>
#include <vector>

#include "archive/pak_writer.h"

namespace unpak {

// LAME puts this many frames of delay before the audio (encoder 576 +
// decoder 529): the nCodecDelay that lines decoded audio up with the input,
// which `pak create` measures and the tests expect.
constexpr uint16_t kLameCodecDelay = 1105;

// Synthesized audio and its CBR MP3 encoding (bare frames, no info tag), as
// `pak create` encodes.
struct EncodedClip {
  int channels = 0;
  int rate = 0;
  int bitrateKbps = 0;
  std::vector<int16_t> samples;  // interleaved, the encoder's input
  std::vector<uint8_t> mp3;
  uint16_t blockSize = 0;  // one frame's bytes without padding, for nBlockSize
};

EncodedClip MakeEncodedClip(int channels, int rate, int frames, uint32_t seed, int bitrateKbps);

// The clip's MPEG Layer-3 source format: nCodecDelay LAME's delay.
FormatBlock ClipSourceFormat(const EncodedClip& clip);

}  // namespace unpak
