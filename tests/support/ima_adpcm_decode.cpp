#include "tests/support/ima_adpcm_decode.h"

#include <algorithm>

namespace {

constexpr int kStepSizes[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kIndexSteps[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

struct ImaChannel {
  int predictor = 0;
  int index = 0;
};

int16_t DecodeNibble(ImaChannel* state, int nibble) {
  const int step = kStepSizes[state->index];
  int diff = step >> 3;
  if (nibble & 4) diff += step;
  if (nibble & 2) diff += step >> 1;
  if (nibble & 1) diff += step >> 2;
  state->predictor += (nibble & 8) ? -diff : diff;
  state->predictor = std::clamp(state->predictor, -32768, 32767);
  state->index = std::clamp(state->index + kIndexSteps[nibble], 0, 88);
  return static_cast<int16_t>(state->predictor);
}

}  // namespace

std::vector<int16_t> DecodeImaAdpcm(const std::vector<uint8_t>& data, int channels,
                                    size_t blockAlign) {
  std::vector<int16_t> samples;
  const size_t headerSize = 4 * static_cast<size_t>(channels);
  if (channels <= 0 || blockAlign <= headerSize) return samples;
  const size_t perChannel = (blockAlign - headerSize) * 2 / channels + 1;
  for (size_t block = 0; block + blockAlign <= data.size(); block += blockAlign) {
    const uint8_t* p = data.data() + block;
    std::vector<ImaChannel> states(channels);
    std::vector<int16_t> decoded(perChannel * channels);
    for (int c = 0; c < channels; ++c) {
      states[c].predictor = static_cast<int16_t>(p[4 * c] | (p[4 * c + 1] << 8));
      states[c].index = std::min<int>(p[4 * c + 2], 88);
      decoded[c] = static_cast<int16_t>(states[c].predictor);
    }
    // Each group is 4 bytes (8 samples) of one channel; groups alternate.
    const uint8_t* group = p + headerSize;
    for (size_t first = 1; first < perChannel; first += 8) {
      for (int c = 0; c < channels; ++c, group += 4) {
        for (size_t k = 0; k < 8; ++k) {
          const int nibble = (group[k / 2] >> (4 * (k % 2))) & 15;
          decoded[(first + k) * channels + c] = DecodeNibble(&states[c], nibble);
        }
      }
    }
    samples.insert(samples.end(), decoded.begin(), decoded.end());
  }
  return samples;
}
