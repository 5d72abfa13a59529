#include "tests/codec/ima_reference_decoder.h"

#include <algorithm>

namespace {

const int kSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,   876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749,  3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
const int kIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

struct Channel {
  int predictor;
  int index;
};

int16_t DecodeNibble(int nibble, Channel& channel) {
  const int step = kSteps[channel.index];
  int diff = step >> 3;
  if (nibble & 4) diff += step;
  if (nibble & 2) diff += step >> 1;
  if (nibble & 1) diff += step >> 2;
  channel.predictor += (nibble & 8) ? -diff : diff;
  channel.predictor = std::clamp(channel.predictor, -32768, 32767);
  channel.index = std::clamp(channel.index + kIndexTable[nibble], 0, 88);
  return static_cast<int16_t>(channel.predictor);
}

}  // namespace

std::vector<int16_t> DecodeImaBlocks(const std::vector<uint8_t>& blocks, int channels,
                                     int blockAlign, std::vector<int>* stepIndexAfter) {
  const int samplesPerBlock = (blockAlign - 4 * channels) * 2 / channels + 1;
  std::vector<int16_t> out;
  for (size_t start = 0; start + blockAlign <= blocks.size(); start += blockAlign) {
    const uint8_t* block = blocks.data() + start;
    std::vector<int16_t> frames(static_cast<size_t>(samplesPerBlock) * channels);
    Channel state[2];
    for (int c = 0; c < channels; ++c) {
      state[c].predictor = static_cast<int16_t>(block[4 * c] | (block[4 * c + 1] << 8));
      state[c].index = std::min<int>(block[4 * c + 2], 88);
      frames[c] = static_cast<int16_t>(state[c].predictor);
    }
    const uint8_t* data = block + 4 * channels;
    for (int group = 0; 1 + 8 * group < samplesPerBlock; ++group) {
      for (int c = 0; c < channels; ++c) {
        for (int k = 0; k < 8; ++k) {
          const int nibble = (data[k / 2] >> (4 * (k % 2))) & 0xF;
          frames[static_cast<size_t>(1 + 8 * group + k) * channels + c] =
              DecodeNibble(nibble, state[c]);
        }
        data += 4;
      }
    }
    out.insert(out.end(), frames.begin(), frames.end());
    if (stepIndexAfter) {
      for (int c = 0; c < channels; ++c) stepIndexAfter->push_back(state[c].index);
    }
  }
  return out;
}
