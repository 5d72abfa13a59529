#pragma once

// The MPEG audio Layer III stream that an archive entry is encoded to: its
// sample rate, bit rate and quality.

#include <cstdint>

#include "platform/mpeg_layer3.h"

namespace unpak {

struct Mp3Settings {
  uint32_t rate = 0;  // an MPEG sample rate
  uint16_t channels = 0;
  uint32_t kbps = 0;
  int quality = 2;  // LAME's: 0 (best) to 9 (fastest)
};

// The bit rate used when none is asked for: 128 kbps at 32000 Hz and above,
// 64 below.
uint32_t DefaultKbps(uint32_t mpegRate);

}  // namespace unpak
