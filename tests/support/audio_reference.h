#pragma once

// Reference audio for judging what the program writes: libmpg123's decoding,
// the PCM conversions a target asks for, libsoxr's resampling, and SNR.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace unpak {

// A bare MP3 stream fed to libmpg123 `chunk` bytes per pass, as the program
// feeds its codec: the 16-bit samples each pass gives, with every complete
// frame out at once (no read-ahead) and nothing trimmed.
std::vector<std::vector<int16_t>> DecodeInPasses(const std::vector<uint8_t>& stream, size_t chunk);

// Interleaved 16-bit audio stored as a PCM target of `outChannels` channels
// and `outBits` (8 or 16) bits: stereo to mono as (L + R) / 2, mono to stereo
// by duplication, 8-bit as (s16 >> 8) + 128.
std::vector<uint8_t> PcmBytes(const std::vector<int16_t>& samples, int inChannels, int outChannels,
                              int outBits);

// 16-bit little-endian PCM bytes as samples.
std::vector<int16_t> Samples16(const std::vector<uint8_t>& bytes);

// Reference power over the power of the difference, in dB, over the common
// length, with `actual` read from `lag` samples on.
template <typename Sample>
double SnrDb(const std::vector<Sample>& reference, const std::vector<Sample>& actual,
             size_t lag = 0) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < reference.size() && i + lag < actual.size(); ++i) {
    signal += static_cast<double>(reference[i]) * reference[i];
    noise += std::pow(static_cast<double>(actual[i + lag]) - reference[i], 2);
  }
  return noise == 0 ? std::numeric_limits<double>::infinity() : 10 * std::log10(signal / noise);
}

// Interleaved 16-bit audio at another rate, by libsoxr (high quality, no
// dither, delay compensated).
std::vector<int16_t> ResampleReference(const std::vector<int16_t>& interleaved, int channels,
                                       int inputRate, int outputRate);

}  // namespace unpak
