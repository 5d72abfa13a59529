#include "codec/ima_adpcm_encoder.h"

#include <algorithm>

#include "platform/byte_order.h"

namespace unpak {

namespace {

constexpr int16_t kStepSizes[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr int8_t kIndexChanges[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// One sample to a nibble; the state follows what a decoder reconstructs.
uint8_t EncodeNibble(int32_t sample, ImaChannelState& state) {
  int32_t step = kStepSizes[state.stepIndex];
  int32_t diff = sample - state.predictor;
  uint8_t nibble = 0;
  if (diff < 0) {
    nibble = 8;
    diff = -diff;
  }
  int32_t delta = step >> 3;
  for (uint8_t bit = 4; bit != 0; bit >>= 1, step >>= 1) {
    if (diff >= step) {
      nibble |= bit;
      diff -= step;
      delta += step;
    }
  }
  state.predictor = std::clamp(state.predictor + ((nibble & 8) ? -delta : delta), -32768, 32767);
  state.stepIndex = std::clamp(state.stepIndex + kIndexChanges[nibble & 7], 0, 88);
  return nibble;
}

}  // namespace

void EncodeImaBlock(const int16_t* frames, uint32_t channels, uint32_t samplesPerBlock,
                    ImaChannelState* states, uint8_t* block) {
  for (uint32_t c = 0; c < channels; ++c) {
    states[c].predictor = frames[c];
    StoreLe16(block + 4 * c, static_cast<uint16_t>(frames[c]));
    block[4 * c + 2] = static_cast<uint8_t>(states[c].stepIndex);
    block[4 * c + 3] = 0;
  }
  uint8_t* out = block + 4 * channels;
  // Groups of 8 samples per channel follow the first frame.
  for (uint32_t first = 1; first < samplesPerBlock; first += 8) {
    for (uint32_t c = 0; c < channels; ++c) {
      for (uint32_t k = 0; k < 8; k += 2) {
        const int16_t* pair = frames + (first + k) * channels + c;
        const uint8_t low = EncodeNibble(pair[0], states[c]);
        const uint8_t high = EncodeNibble(pair[channels], states[c]);
        *out++ = static_cast<uint8_t>(low | (high << 4));
      }
    }
  }
}

}  // namespace unpak
