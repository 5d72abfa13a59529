#include "codec/gsm_encoder.h"

#include <algorithm>

namespace unpak {

GsmPtr CreateGsmEncoder() {
  GsmPtr encoder(gsm_create());
  int wav49 = 1;
  if (encoder && gsm_option(encoder.get(), GSM_OPT_WAV49, &wav49) < 0) return nullptr;
  return encoder;
}

void EncodeGsmBlock(gsm_state* encoder, const int16_t* samples, uint8_t* block) {
  // libgsm takes its input as writable; it must not change the caller's.
  gsm_signal frame[kGsmBlockSamples];
  std::copy(samples, samples + kGsmBlockSamples, frame);
  gsm_encode(encoder, frame, block);
  gsm_encode(encoder, frame + kGsmBlockSamples / 2, block + 32);
}

}  // namespace unpak
