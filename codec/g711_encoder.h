#pragma once

// The classic truncating G.711 encoders for 16-bit samples.

#include <cstdint>

namespace unpak {

uint8_t EncodeMulaw(int16_t sample);
uint8_t EncodeAlaw(int16_t sample);

}  // namespace unpak
