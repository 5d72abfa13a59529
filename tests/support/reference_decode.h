#pragma once

#include <cstdint>
#include <vector>

// A bare MP3 frame stream decoded by libmpg123 to 16-bit samples at its own
// rate and channel count, with the decoder's delay kept and nothing trimmed:
// every complete frame gives its samples. The oracle for what the program's
// decoding should produce before it cuts the codec delay.
struct DecodedPcm {
  int channels = 0;
  int rate = 0;
  std::vector<int16_t> samples;  // interleaved
};

DecodedPcm DecodeMp3Reference(const std::vector<uint8_t>& stream);
