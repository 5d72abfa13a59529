#include "create/resampler.h"

#include <cmath>

namespace unpak {

namespace {

// Output frames taken from soxr per call.
constexpr size_t kPieceFrames = 8192;

}  // namespace

std::unique_ptr<Resampler> CreateResampler(uint32_t inputRate, uint32_t outputRate,
                                           uint16_t channels, std::string* reason) {
  auto resampler = std::make_unique<Resampler>();
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_error_t error = nullptr;
  resampler->state.reset(
      soxr_create(inputRate, outputRate, channels, &error, &io, &quality, nullptr));
  if (error != nullptr) {
    *reason = std::string("cannot resample: ") + error;
    return nullptr;
  }
  resampler->channels = channels;
  return resampler;
}

bool Resample(Resampler& resampler, const float* input, size_t frames, bool end,
              std::vector<float>* output, std::string* reason) {
  output->clear();
  std::vector<float> piece(kPieceFrames * resampler.channels);
  size_t taken = 0;
  for (;;) {
    // Once the input is all taken, a null input asks for what the filter holds.
    const bool flush = end && taken == frames;
    size_t used = 0;
    size_t produced = 0;
    const soxr_error_t error =
        soxr_process(resampler.state.get(), flush ? nullptr : input + taken * resampler.channels,
                     flush ? 0 : frames - taken, &used, piece.data(), kPieceFrames, &produced);
    if (error != nullptr) {
      *reason = std::string("cannot resample: ") + error;
      return false;
    }
    output->insert(output->end(), piece.begin(),
                   piece.begin() + static_cast<ptrdiff_t>(produced * resampler.channels));
    taken += used;
    if (produced == kPieceFrames) continue;  // more may be waiting
    if (taken < frames) {
      if (used == 0) {
        *reason = "cannot resample: the resampler takes no more input";
        return false;
      }
      continue;
    }
    if (!end || (flush && produced == 0)) return true;
  }
}

}  // namespace unpak
