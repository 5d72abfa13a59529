#pragma once

#include <cstdint>
#include <vector>

// Signal-to-noise ratio in dB of `actual` against `reference` over their
// common length: reference power over the power of the difference.
double SnrDb(const std::vector<int16_t>& reference, const std::vector<int16_t>& actual);

// Interleaved 16-bit audio at another rate, by libsoxr (high quality, no
// dither, delay compensated): a reference for where resampled audio must lie.
std::vector<int16_t> ResampleReference(const std::vector<int16_t>& interleaved, int channels,
                                       int inputRate, int outputRate);
