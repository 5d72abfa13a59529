#include "create/channel_mix.h"

namespace unpak {

void MixChannels(const float* input, size_t frames, uint16_t to, std::vector<float>* output) {
  output->resize(frames * to);
  float* out = output->data();
  for (size_t i = 0; i < frames; ++i) {
    if (to == 1) {
      out[i] = (input[2 * i] + input[2 * i + 1]) / 2;
    } else {
      out[2 * i] = out[2 * i + 1] = input[i];
    }
  }
}

}  // namespace unpak
