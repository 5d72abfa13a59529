#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// 16-bit little-endian PCM bytes as samples (an odd last byte is ignored).
std::vector<int16_t> SamplesFromBytes(const std::vector<uint8_t>& bytes, size_t offset,
                                      size_t count);

// Interleaved 16-bit audio converted as a PCM target of `outChannels`
// channels and `outBits` bits stores it: stereo to mono as (L + R) / 2,
// mono to stereo by duplication, 8-bit as (s16 >> 8) + 128.
std::vector<uint8_t> PcmBytes(const std::vector<int16_t>& samples, int inChannels, int outChannels,
                              int outBits);

struct DiffStats {
  size_t count = 0;
  int maxAbs = 0;
  double rms = 0;
  size_t firstOverOne = 0;  // index of the first difference above 1, or count
};
// Differences of `actual` from `expected` over their common length.
DiffStats CompareSamples(const std::vector<int16_t>& expected, const std::vector<int16_t>& actual);
// The same for bytes (8-bit samples).
DiffStats CompareBytes(const std::vector<uint8_t>& expected, const std::vector<uint8_t>& actual);

// One channel of interleaved samples.
std::vector<double> Channel(const std::vector<int16_t>& interleaved, int channels, int channel);

// The lag in [-maxLag, maxLag] at which `b` shifted by the lag best matches
// `a` (b[i + lag] ~ a[i]), by normalized cross-correlation; `peak` receives
// the correlation there.
int BestLag(const std::vector<double>& a, const std::vector<double>& b, int maxLag, double* peak);
