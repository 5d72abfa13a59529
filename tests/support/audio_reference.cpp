#include "tests/support/audio_reference.h"

#include <mpg123.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace unpak {

std::vector<std::vector<int16_t>> DecodeInPasses(const std::vector<uint8_t>& stream, size_t chunk) {
  std::vector<std::vector<int16_t>> passes;
  const std::unique_ptr<mpg123_handle, void (*)(mpg123_handle*)> handle(
      mpg123_new(nullptr, nullptr), &mpg123_delete);
  mpg123_handle* mh = handle.get();
  if (mh == nullptr) return passes;
  mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_NO_READAHEAD | MPG123_QUIET, 0);
  mpg123_format_none(mh);
  mpg123_format2(mh, 0, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);  // at any rate
  if (mpg123_open_feed(mh) != MPG123_OK) return passes;
  std::vector<int16_t> out(1 << 15);
  for (size_t at = 0; at < stream.size(); at += chunk) {
    std::vector<int16_t>& pass = passes.emplace_back();
    mpg123_feed(mh, stream.data() + at, std::min(chunk, stream.size() - at));
    for (int result = MPG123_OK; result == MPG123_OK || result == MPG123_NEW_FORMAT;) {
      size_t done = 0;
      result = mpg123_read(mh, reinterpret_cast<unsigned char*>(out.data()), out.size() * 2, &done);
      pass.insert(pass.end(), out.begin(), out.begin() + static_cast<ptrdiff_t>(done / 2));
    }
  }
  return passes;
}

std::vector<uint8_t> PcmBytes(const std::vector<int16_t>& samples, int inChannels, int outChannels,
                              int outBits) {
  std::vector<uint8_t> bytes;
  for (size_t f = 0; f + inChannels <= samples.size(); f += inChannels) {
    for (int c = 0; c < outChannels; ++c) {
      const int value = inChannels == outChannels ? samples[f + c]
                        : inChannels == 2         ? (samples[f] + samples[f + 1]) / 2
                                                  : samples[f];
      if (outBits == 16) bytes.push_back(static_cast<uint8_t>(value & 0xFF));
      bytes.push_back(
          static_cast<uint8_t>(outBits == 8 ? (value >> 8) + 128 : (value >> 8) & 0xFF));
    }
  }
  return bytes;
}

std::vector<int16_t> Samples16(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return samples;
}

std::vector<int16_t> ResampleReference(const std::vector<int16_t>& interleaved, int channels,
                                       int inputRate, int outputRate) {
  const size_t frames = interleaved.size() / static_cast<size_t>(channels);
  const size_t outFrames =
      static_cast<size_t>(std::llround(double(frames) * outputRate / inputRate));
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

}  // namespace unpak
