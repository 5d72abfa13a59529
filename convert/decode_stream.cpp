#include "convert/decode_stream.h"

#include <algorithm>
#include <cstring>

#include "convert/conversion_buffers.h"
#include "platform/codec_service.h"
#include "platform/console.h"
#include "platform/wave_format.h"

namespace {

constexpr uint32_t kBlocksPerPass = 32;
constexpr uint32_t kFallbackDestinationSize = 4096;

}  // namespace

bool CheckMpegSource(std::span<const uint8_t> sourceFormat, MpegLayer3Fields* fields,
                     WaveFormat* format, std::string* reason) {
  *format = ReadWaveFormat(sourceFormat.data());
  if (format->wFormatTag != kWaveFormatMpegLayer3) {
    char tag[8];
    std::snprintf(tag, sizeof tag, "0x%04x", format->wFormatTag);
    *reason = std::string("the source format (tag ") + tag + ") is not MPEG Layer-3";
    return false;
  }
  if (!ReadMpegLayer3Fields(sourceFormat.data(), sourceFormat.size(), fields)) {
    *reason = "the source format block is too short for its MPEG Layer-3 fields";
    return false;
  }
  if (fields->nBlockSize == 0 || format->nBlockAlign == 0) {
    *reason = "the source format's nBlockSize or nBlockAlign is 0";
    return false;
  }
  return true;
}

namespace {

// Where decoded audio goes: the codec delay is cut from its front, across as
// many passes as it takes, and it is capped at decodedLength bytes.
struct DecodedAudio {
  ChunkFile& destination;
  uint64_t delayLeft;  // bytes
  uint32_t decodedLength;
  uint16_t bitsPerSample;
  uint64_t written = 0;
  bool capped = false;
};

// The codec delay in bytes of the output: nCodecDelay frames at the source's
// rate, which are fewer or more frames when the output has another rate.
uint64_t DelayBytes(const WaveFormat& source, const WaveFormat& output, uint16_t codecDelay) {
  uint64_t frames = codecDelay;
  if (output.nSamplesPerSec != source.nSamplesPerSec && source.nSamplesPerSec != 0) {
    frames = (uint64_t{codecDelay} * output.nSamplesPerSec + source.nSamplesPerSec / 2) /
             source.nSamplesPerSec;
  }
  return uint64_t{output.wBitsPerSample} * frames * output.nChannels / 8;
}

// Writes one pass's output and prints its mark.
void EmitPass(DecodedAudio& audio, const uint8_t* data, uint32_t produced) {
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
  if (length > 0) ChunkWrite(audio.destination, data + skip, static_cast<int32_t>(length));
  ConsolePrint("#");
}

}  // namespace

bool DecodeStream(ChunkFile& destination, std::span<const uint8_t> destinationFormat,
                  std::span<const uint8_t> sourceFormat, ChunkFile& source, uint32_t compressedSize,
                  uint32_t decodedLength, uint64_t* decodedBytes, std::string* reason) {
  MpegLayer3Fields mpeg;
  WaveFormat input;
  if (!CheckMpegSource(sourceFormat, &mpeg, &input, reason)) return false;
  CodecStreamPtr stream = CodecStreamOpen(sourceFormat, destinationFormat, reason);
  if (!stream) return false;

  const WaveFormat output = ReadWaveFormat(destinationFormat.data());
  const uint32_t sourceChunkSize = uint32_t{mpeg.nBlockSize} * kBlocksPerPass;
  uint32_t destinationChunkSize = kFallbackDestinationSize;
  if (!CodecStreamSize(*stream, sourceChunkSize, &destinationChunkSize, kStreamSizeSource) ||
      destinationChunkSize == 0) {
    destinationChunkSize = kFallbackDestinationSize;
  }
  ConversionBuffers buffers;
  if (!PrepareConversion(*stream, sourceChunkSize, destinationChunkSize, &buffers, reason)) {
    return false;
  }
  CodecStreamHeader& header = buffers.header;
  uint8_t* sourceBuffer = buffers.source.data();
  const uint8_t* destinationBuffer = buffers.destination.data();

  DecodedAudio audio{destination, DelayBytes(input, output, mpeg.nCodecDelay), decodedLength,
                     output.wBitsPerSample};
  const uint32_t alignedPass = uint32_t{input.nBlockAlign} * mpeg.nBlockSize;
  uint32_t remaining = compressedSize;
  uint32_t carried = 0;
  bool ok = true;
  while (remaining > 0 && !audio.capped) {
    const int32_t read =
        ChunkRead(source, sourceBuffer + carried,
                  static_cast<int32_t>(std::min(remaining, sourceChunkSize - carried)));
    if (read <= 0) break;
    remaining -= static_cast<uint32_t>(read);
    const uint32_t presented = carried + static_cast<uint32_t>(read);
    header.cbSrcLength = presented;
    const uint32_t flags = presented % alignedPass == 0 ? uint32_t{kConvertBlockAlign} : 0u;
    if (!CodecStreamConvert(*stream, header, flags)) {
      ok = false;
      break;
    }
    if (header.cbDstLengthUsed > 0) EmitPass(audio, destinationBuffer, header.cbDstLengthUsed);
    const uint32_t used = header.cbSrcLengthUsed;
    carried = used < presented ? presented - used : 0;
    if (carried > 0) std::memmove(sourceBuffer, sourceBuffer + used, carried);
  }
  // Once the source has ended, what the codec still holds (a resampler's
  // tail, bytes it did not take) comes out too, up to the cap.
  header.cbSrcLength = carried;
  while (ok && !audio.capped) {
    if (!CodecStreamConvert(*stream, header, kConvertEnd)) {
      ok = false;
      break;
    }
    if (header.cbDstLengthUsed == 0) break;
    EmitPass(audio, destinationBuffer, header.cbDstLengthUsed);
    header.cbSrcLength = 0;
  }
  if (!ok) *reason = "the MP3 audio cannot be decoded: " + CodecStreamError(*stream);
  *decodedBytes = audio.written;
  CodecStreamUnprepareHeader(*stream, header);
  return ok;
}
