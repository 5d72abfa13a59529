#include "convert/encode_stream.h"

#include "convert/conversion_buffers.h"
#include "platform/codec_service.h"

namespace {

constexpr uint32_t kDestinationChunkSize = 65536;

}  // namespace

bool EncodeStream(ChunkFile& source, ChunkFile& destination, std::span<const uint8_t> sourceFormat,
                  std::span<const uint8_t> destinationFormat, std::string* reason) {
  CodecStreamPtr stream = CodecStreamOpen(sourceFormat, destinationFormat, reason);
  if (!stream) return false;
  uint32_t sourceChunkSize = 0;
  if (!CodecStreamSize(*stream, kDestinationChunkSize, &sourceChunkSize, kStreamSizeDestination) ||
      sourceChunkSize == 0) {
    *reason = "the codec cannot say how much audio makes a block of its output";
    return false;
  }
  ConversionBuffers buffers;
  if (!PrepareConversion(*stream, sourceChunkSize, kDestinationChunkSize, &buffers, reason)) {
    return false;
  }
  CodecStreamHeader& header = buffers.header;

  bool ok = true;
  // Each pass presents only the bytes just read; the codec takes them all.
  for (;;) {
    const int32_t read =
        ChunkRead(source, buffers.source.data(), static_cast<int32_t>(sourceChunkSize));
    if (read <= 0) break;
    header.cbSrcLength = static_cast<uint32_t>(read);
    if (!CodecStreamConvert(*stream, header, 0)) {
      ok = false;
      break;
    }
    ChunkWrite(destination, buffers.destination.data(),
               static_cast<int32_t>(header.cbDstLengthUsed));
  }
  // What the codec still holds (a resampler's tail, a part block) comes out
  // once the source has ended.
  header.cbSrcLength = 0;
  while (ok) {
    if (!CodecStreamConvert(*stream, header, kConvertEnd)) {
      ok = false;
      break;
    }
    if (header.cbDstLengthUsed == 0) break;
    ChunkWrite(destination, buffers.destination.data(),
               static_cast<int32_t>(header.cbDstLengthUsed));
  }
  if (!ok) *reason = "the audio cannot be encoded: " + CodecStreamError(*stream);
  CodecStreamUnprepareHeader(*stream, header);
  return ok;
}
