#pragma once

// IMA ADPCM encoding in the WAV block layout (format tag 0x11).

#include <cstdint>

namespace unpak {

// The adaptive state of one channel. The step index carries over from block
// to block; the predictor restarts at each block's first sample, which the
// block header holds verbatim.
struct ImaChannelState {
  int32_t predictor = 0;
  int32_t stepIndex = 0;
};

// Encodes `samplesPerBlock` interleaved frames of `channels` channels (1 + a
// multiple of 8) into one block: per channel a first sample, a step index
// and a zero byte, then 4-byte groups of 8 nibbles (low nibble first)
// alternating between channels.
void EncodeImaBlock(const int16_t* frames, uint32_t channels, uint32_t samplesPerBlock,
                    ImaChannelState* states, uint8_t* block);

}  // namespace unpak
