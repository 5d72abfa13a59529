#include "tests/codec/mp3_test_support.h"

#include <dlfcn.h>
#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/byte_order.h"
#include "platform/codec_service.h"

bool RegisterCodecModule() {
  static const bool registered = [] {
    void* module = dlopen(UNPAK_CODEC_MODULE, RTLD_NOW | RTLD_LOCAL);
    auto entry = module ? reinterpret_cast<CodecDriverEntry>(dlsym(module, "DriverProc"))
                        : nullptr;
    return entry && CodecDriverAdd(entry);
  }();
  return registered;
}

FormatBlock Mp3Format(int channels, int rate, const Mp3Stream& mp3, uint16_t blockAlign) {
  WaveFormat format;
  format.wFormatTag = kWaveFormatMpegLayer3;
  format.nChannels = static_cast<uint16_t>(channels);
  format.nSamplesPerSec = static_cast<uint32_t>(rate);
  format.nAvgBytesPerSec = 16000;
  format.nBlockAlign = blockAlign;
  format.cbSize = kMpegLayer3ExtraSize;
  FormatBlock block = MakeFormatBlock(format);
  uint8_t* extra = block.data() + kWaveFormatSize;
  StoreLe16(extra, 1);      // wID
  StoreLe32(extra + 2, 0);  // fdwFlags
  StoreLe16(extra + 6, mp3.maxFrameSize);
  StoreLe16(extra + 8, 1);  // nFramesPerBlock
  StoreLe16(extra + 10, kLameCodecDelay);
  return block;
}

FormatBlock PcmFormat(int channels, int rate, int bits) {
  WaveFormat format;
  format.wFormatTag = kWaveFormatPcm;
  format.nChannels = static_cast<uint16_t>(channels);
  format.nSamplesPerSec = static_cast<uint32_t>(rate);
  format.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
  format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
  format.wBitsPerSample = static_cast<uint16_t>(bits);
  return MakeFormatBlock(format);
}

std::vector<int16_t> ReferenceDecode(const std::vector<uint8_t>& mp3, int channels) {
  std::unique_ptr<mpg123_handle, void (*)(mpg123_handle*)> handle(mpg123_new(nullptr, nullptr),
                                                                  mpg123_delete);
  mpg123_param(handle.get(), MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
  mpg123_param(handle.get(), MPG123_ADD_FLAGS,
               MPG123_IGNORE_INFOFRAME | MPG123_QUIET |
                   (channels == 1 ? MPG123_MONO_MIX : MPG123_FORCE_STEREO),
               0);
  mpg123_open_feed(handle.get());
  std::vector<int16_t> samples;
  std::vector<int16_t> block(4096);
  size_t done = 0;
  int status = mpg123_decode(handle.get(), mp3.data(), mp3.size(), block.data(), 0, &done);
  while (status == MPG123_OK || status == MPG123_NEW_FORMAT) {
    status = mpg123_decode(handle.get(), nullptr, 0, block.data(), block.size() * 2, &done);
    samples.insert(samples.end(), block.begin(), block.begin() + done / 2);
  }
  return samples;
}

ServiceDecode DecodeThroughService(const FormatBlock& source, const FormatBlock& target,
                                   const std::vector<uint8_t>& mp3, uint32_t slice,
                                   uint32_t destinationSize, uint32_t flags) {
  ServiceDecode result;
  CodecStreamPtr stream = CodecStreamOpen(source, target, &result.error);
  if (!stream ||
      (destinationSize == 0 &&
       !CodecStreamSize(*stream, slice, &destinationSize, kStreamSizeSource))) {
    result.failed = true;
    return result;
  }
  std::vector<uint8_t> in(slice);
  std::vector<uint8_t> out(destinationSize);
  CodecStreamHeader header{sizeof header, 0, in.data(), slice, 0, out.data(), destinationSize, 0};
  CodecStreamPrepareHeader(*stream, header);
  auto convert = [&](uint32_t presented, uint32_t convertFlags) {
    header.cbSrcLength = presented;
    if (!CodecStreamConvert(*stream, header, convertFlags) && !result.failed) {
      result.failed = true;
      result.error = CodecStreamError(*stream);
    }
    result.pcm.insert(result.pcm.end(), out.begin(), out.begin() + header.cbDstLengthUsed);
    const uint32_t left = presented - header.cbSrcLengthUsed;
    std::memmove(in.data(), in.data() + header.cbSrcLengthUsed, left);
    return left;
  };
  uint32_t carried = 0;
  for (size_t next = 0; next < mp3.size();) {
    const size_t count = std::min<size_t>(slice - carried, mp3.size() - next);
    if (count == 0) break;  // the codec takes nothing more
    std::memcpy(in.data() + carried, mp3.data() + next, count);
    next += count;
    carried = convert(carried + static_cast<uint32_t>(count), flags);
  }
  for (bool first = true;; first = false) {
    const size_t before = result.pcm.size();
    carried = convert(carried, 0);
    const size_t produced = result.pcm.size() - before;
    if (first) result.heldBack = static_cast<uint32_t>(produced);
    if (produced == 0) break;
  }
  for (;;) {
    const size_t before = result.pcm.size();
    carried = convert(carried, kConvertEnd);
    const size_t produced = result.pcm.size() - before;
    result.endTail += static_cast<uint32_t>(produced);
    if (produced == 0) break;
  }
  CodecStreamUnprepareHeader(*stream, header);
  return result;
}

std::vector<int16_t> AsSamples(const std::vector<uint8_t>& pcm) {
  std::vector<int16_t> samples(pcm.size() / 2);
  std::memcpy(samples.data(), pcm.data(), samples.size() * 2);
  return samples;
}
