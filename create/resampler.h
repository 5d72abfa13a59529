#pragma once

// Interleaved float audio taken to another sample rate with libsoxr (high
// quality, its filter delay compensated), so that the result lines up with
// the input and its length is the input's scaled by the rates, rounded.

#include <soxr.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace unpak {

struct SoxrCloser {
  void operator()(soxr* resampler) const { soxr_delete(resampler); }
};
struct Resampler {
  std::unique_ptr<soxr, SoxrCloser> state;
  uint16_t channels = 0;
};

// Null, with the reason, when libsoxr refuses the rates.
std::unique_ptr<Resampler> CreateResampler(uint32_t inputRate, uint32_t outputRate,
                                           uint16_t channels, std::string* reason);

// Resamples `frames` frames, replacing `output`'s contents with what comes
// out. With `end`, also what the filter still holds; nothing may follow.
bool Resample(Resampler& resampler, const float* input, size_t frames, bool end,
              std::vector<float>* output, std::string* reason);

}  // namespace unpak
