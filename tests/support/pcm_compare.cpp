#include "tests/support/pcm_compare.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

std::vector<int16_t> SamplesFromBytes(const std::vector<uint8_t>& bytes, size_t offset,
                                      size_t count) {
  std::vector<int16_t> samples(count / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(bytes[offset + 2 * i] | (bytes[offset + 2 * i + 1] << 8));
  }
  return samples;
}

std::vector<uint8_t> PcmBytes(const std::vector<int16_t>& samples, int inChannels, int outChannels,
                              int outBits) {
  std::vector<uint8_t> bytes;
  if (inChannels <= 0) return bytes;
  const size_t frames = samples.size() / static_cast<size_t>(inChannels);
  for (size_t f = 0; f < frames; ++f) {
    for (int c = 0; c < outChannels; ++c) {
      int value = 0;
      if (inChannels == outChannels) {
        value = samples[f * inChannels + c];
      } else if (inChannels == 2) {
        value = (samples[2 * f] + samples[2 * f + 1]) / 2;
      } else {
        value = samples[f];
      }
      if (outBits == 8) {
        bytes.push_back(static_cast<uint8_t>((value >> 8) + 128));
      } else {
        bytes.push_back(static_cast<uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
      }
    }
  }
  return bytes;
}

namespace {

template <typename T>
DiffStats Compare(const std::vector<T>& expected, const std::vector<T>& actual) {
  DiffStats stats;
  stats.count = std::min(expected.size(), actual.size());
  stats.firstOverOne = stats.count;
  double sum = 0;
  for (size_t i = 0; i < stats.count; ++i) {
    const int diff = std::abs(static_cast<int>(actual[i]) - static_cast<int>(expected[i]));
    if (diff > 1 && stats.firstOverOne == stats.count) stats.firstOverOne = i;
    stats.maxAbs = std::max(stats.maxAbs, diff);
    sum += static_cast<double>(diff) * diff;
  }
  stats.rms = stats.count == 0 ? 0 : std::sqrt(sum / static_cast<double>(stats.count));
  return stats;
}

}  // namespace

DiffStats CompareSamples(const std::vector<int16_t>& expected, const std::vector<int16_t>& actual) {
  return Compare(expected, actual);
}

DiffStats CompareBytes(const std::vector<uint8_t>& expected, const std::vector<uint8_t>& actual) {
  return Compare(expected, actual);
}

std::vector<double> Channel(const std::vector<int16_t>& interleaved, int channels, int channel) {
  std::vector<double> values;
  for (size_t i = static_cast<size_t>(channel); i < interleaved.size(); i += channels) {
    values.push_back(interleaved[i]);
  }
  return values;
}

int BestLag(const std::vector<double>& a, const std::vector<double>& b, int maxLag, double* peak) {
  int best = 0;
  double bestValue = -2;
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    double dot = 0, aa = 0, bb = 0;
    for (size_t i = static_cast<size_t>(maxLag); i + maxLag < a.size(); ++i) {
      const long j = static_cast<long>(i) + lag;
      if (j < 0 || static_cast<size_t>(j) >= b.size()) continue;
      dot += a[i] * b[j];
      aa += a[i] * a[i];
      bb += b[j] * b[j];
    }
    const double value = aa > 0 && bb > 0 ? dot / std::sqrt(aa * bb) : 0;
    if (value > bestValue) {
      bestValue = value;
      best = lag;
    }
  }
  *peak = bestValue;
  return best;
}
