#include "tools/synth.h"

#include <cmath>
#include <numbers>

namespace unpak {

namespace {

// Numerical Recipes' 32-bit LCG: the same sequence on every platform.
uint32_t NextRandom(uint32_t* state) {
  *state = *state * 1664525u + 1013904223u;
  return *state;
}

// Uniform noise in [-1, 1).
double NoiseSample(uint32_t* state) {
  return static_cast<double>(NextRandom(state) >> 8) / static_cast<double>(1u << 23) - 1.0;
}

}  // namespace

std::vector<int16_t> SynthesizeMusic(int channels, int rate, int frames, uint32_t seed) {
  // A chord of three partials per channel, shifted a little per channel so
  // that channels differ; amplitudes sum to 0.25 of full scale (-12 dBFS).
  constexpr double kBase[3] = {220.0, 277.18, 329.63};
  constexpr double kAmplitude[3] = {0.12, 0.07, 0.05};
  constexpr double kNoise = 0.01;
  const double step = 2.0 * std::numbers::pi / rate;

  std::vector<int16_t> samples(static_cast<size_t>(channels) * frames);
  uint32_t state = seed;
  for (int frame = 0; frame < frames; ++frame) {
    for (int channel = 0; channel < channels; ++channel) {
      const double shift = 1.0 + 0.5 * channel;
      double value = kNoise * NoiseSample(&state);
      for (int partial = 0; partial < 3; ++partial) {
        value += kAmplitude[partial] * std::sin(step * kBase[partial] * shift * frame);
      }
      samples[static_cast<size_t>(frame) * channels + channel] =
          static_cast<int16_t>(std::lround(value * 32767.0));
    }
  }
  return samples;
}

}  // namespace unpak
