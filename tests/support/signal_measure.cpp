#include "tests/support/signal_measure.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <limits>

double SnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& actual) {
  const size_t count = std::min(reference.size(), actual.size());
  double signal = 0;
  double noise = 0;
  for (size_t i = 0; i < count; ++i) {
    const double diff = static_cast<double>(actual[i]) - reference[i];
    signal += static_cast<double>(reference[i]) * reference[i];
    noise += diff * diff;
  }
  if (noise == 0) return std::numeric_limits<double>::infinity();
  return 10 * std::log10(signal / noise);
}

std::vector<int16_t> ResampleReference(const std::vector<int16_t>& interleaved, int channels,
                                       int inputRate, int outputRate) {
  const size_t frames = interleaved.size() / static_cast<size_t>(channels);
  const size_t outFrames =
      static_cast<size_t>(std::llround(static_cast<double>(frames) * outputRate / inputRate));
  std::vector<int16_t> output(outFrames * channels);
  soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
  io.flags |= SOXR_NO_DITHER;
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  size_t done = 0;
  const soxr_error_t error =
      soxr_oneshot(inputRate, outputRate, static_cast<unsigned>(channels), interleaved.data(),
                   frames, nullptr, output.data(), outFrames, &done, &io, &quality, nullptr);
  output.resize(error ? 0 : done * channels);
  return output;
}
