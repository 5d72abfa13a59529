#include "convert/decoded_audio.h"

#include <algorithm>

namespace unpak {

namespace {

constexpr uint32_t kBlocksPerPass = 32;
// A cap on the source chunk that the format's fields would size, whatever
// they say. Real formats stay far below it (a frame is at most 1441 bytes at
// a fixed bitrate), so their passes are as the format makes them.
constexpr uint32_t kMaxSourceChunkSize = 128 * 1024;

}  // namespace

uint32_t DecodePassSize(const MpegLayer3Fields& mpeg) {
  return std::min(uint32_t{mpeg.nBlockSize} * kBlocksPerPass, kMaxSourceChunkSize);
}

uint64_t DelayBytes(const WaveFormat& source, const WaveFormat& output, uint16_t codecDelay) {
  uint64_t frames = codecDelay;
  if (output.nSamplesPerSec != source.nSamplesPerSec && source.nSamplesPerSec != 0) {
    frames = (uint64_t{codecDelay} * output.nSamplesPerSec + source.nSamplesPerSec / 2) /
             source.nSamplesPerSec;
  }
  return uint64_t{output.wBitsPerSample} * frames * output.nChannels / 8;
}

bool WriteAudio(DecodedAudio& audio, const uint8_t* data, uint32_t produced) {
  const uint32_t skip = static_cast<uint32_t>(std::min<uint64_t>(audio.delayLeft, produced));
  audio.delayLeft -= skip;
  int64_t length = produced - skip;
  audio.written += static_cast<uint64_t>(length);
  if (audio.written > audio.decodedLength) {
    length -= static_cast<int64_t>(audio.written - audio.decodedLength);
    // Odd lengths of 8-bit audio lose two bytes, as they always have.
    if (audio.bitsPerSample == 8 && audio.decodedLength % 2 == 1) length -= 2;
    audio.capped = true;
  }
  return length <= 0 ||
         ChunkWrite(audio.destination, data + skip, static_cast<int32_t>(length)) == length;
}

std::string DecodeFailure(CodecStream& stream) {
  return "the MP3 audio cannot be decoded: " + CodecStreamError(stream);
}

}  // namespace unpak
