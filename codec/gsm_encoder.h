#pragma once

// GSM 6.10 encoding in the WAV layout (format tag 0x31) through libgsm.

#include <gsm.h>

#include <cstdint>
#include <memory>

namespace unpak {

constexpr uint32_t kGsmBlockSamples = 320;
constexpr uint32_t kGsmBlockBytes = 65;

struct GsmDeleter {
  void operator()(gsm_state* state) const { gsm_destroy(state); }
};
using GsmPtr = std::unique_ptr<gsm_state, GsmDeleter>;

// An encoder in WAV49 mode; null when libgsm cannot make one.
GsmPtr CreateGsmEncoder();

// Encodes 320 mono samples into one 65-byte block: two frames, 32 then 33
// bytes. The encoder's state carries on to the next block.
void EncodeGsmBlock(gsm_state* encoder, const int16_t* samples, uint8_t* block);

}  // namespace unpak
