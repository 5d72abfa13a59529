#pragma once

// How the payload fuzz target splits its input: a selector byte, then either
// a target format derived from the selector or 22 raw bytes of one, then the
// entry payload. Shared with the seed generator.
//
// Selector bits: 0 channels (mono, stereo); 1-2 sample width (8, 16, 24, 32);
// 3-6 sample rate (index into kFuzzRates, wrapping); 7 raw target format.

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "archive/pak_format.h"

namespace unpak {

inline constexpr uint32_t kFuzzRates[] = {8000,  11025, 12000, 16000, 22050,
                                          24000, 32000, 44100, 48000};
inline constexpr uint8_t kFuzzRawTarget = 0x80;

inline constexpr uint8_t FuzzSelector(int channels, int bits, int rateIndex) {
  return static_cast<uint8_t>((channels - 1) | ((bits / 8 - 1) << 1) | (rateIndex << 3));
}

// The rate index that selects `rate`, or -1.
inline constexpr int FuzzRateIndex(uint32_t rate) {
  const uint32_t* at = std::find(std::begin(kFuzzRates), std::end(kFuzzRates), rate);
  return at == std::end(kFuzzRates) ? -1 : static_cast<int>(at - kFuzzRates);
}

}  // namespace unpak
