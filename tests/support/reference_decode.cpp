#include "tests/support/reference_decode.h"

#include <mpg123.h>

#include <memory>

namespace {

struct HandleCloser {
  void operator()(mpg123_handle* handle) const { mpg123_delete(handle); }
};

void Append(const unsigned char* bytes, size_t count, std::vector<int16_t>* samples) {
  const size_t first = samples->size();
  samples->resize(first + count / 2);
  for (size_t i = 0; i < count / 2; ++i) {
    (*samples)[first + i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
}

}  // namespace

DecodedPcm DecodeMp3Reference(const std::vector<uint8_t>& stream) {
  DecodedPcm pcm;
  std::unique_ptr<mpg123_handle, HandleCloser> handle(mpg123_new(nullptr, nullptr));
  if (!handle) return pcm;
  mpg123_handle* mh = handle.get();
  long flags = 0;
  double ignored = 0;
  mpg123_getparam(mh, MPG123_FLAGS, &flags, &ignored);
  flags &= ~static_cast<long>(MPG123_GAPLESS);
  flags |= MPG123_NO_READAHEAD | MPG123_QUIET;
  mpg123_param(mh, MPG123_FLAGS, flags, 0);
  mpg123_format_none(mh);
  const long* rates = nullptr;
  size_t rateCount = 0;
  mpg123_rates(&rates, &rateCount);
  for (size_t i = 0; i < rateCount; ++i) {
    mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  }
  if (mpg123_open_feed(mh) != MPG123_OK) return pcm;

  std::vector<unsigned char> out(1 << 16);
  const unsigned char* input = stream.data();
  size_t inputSize = stream.size();
  for (;;) {
    size_t done = 0;
    const int result = mpg123_decode(mh, input, inputSize, out.data(), out.size(), &done);
    input = nullptr;
    inputSize = 0;
    Append(out.data(), done, &pcm.samples);
    if (result == MPG123_NEW_FORMAT) {
      long rate = 0;
      int channels = 0;
      int encoding = 0;
      mpg123_getformat(mh, &rate, &channels, &encoding);
      pcm.rate = static_cast<int>(rate);
      pcm.channels = channels;
    } else if (result != MPG123_OK) {
      break;
    }
  }
  return pcm;
}
