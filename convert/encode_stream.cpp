#include "convert/encode_stream.h"

#include "convert/conversion_buffers.h"
#include "platform/codec_service.h"

namespace unpak {

namespace {

constexpr uint32_t kDestinationChunkSize = 65536;

// Converts `length` source bytes at the front of the source buffer with
// `flags` and writes what comes out; `produced` counts it. False, with the
// reason, when the codec or the write fails.
bool ConvertAndWrite(CodecStream& stream, ConversionBuffers& buffers, ChunkFile& destination,
                     uint32_t length, uint32_t flags, uint32_t* produced, std::string* reason) {
  CodecStreamHeader& header = buffers.header;
  header.cbSrcLength = length;
  if (!CodecStreamConvert(stream, header, flags)) {
    *reason = "the audio cannot be encoded: " + CodecStreamError(stream);
    return false;
  }
  *produced = header.cbDstLengthUsed;
  const auto count = static_cast<int32_t>(*produced);
  if (count > 0 && ChunkWrite(destination, buffers.destination.data(), count) != count) {
    *reason = ChunkWriteFailure(destination, "the encoded audio");
    return false;
  }
  return true;
}

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
  PrepareConversion(*stream, sourceChunkSize, kDestinationChunkSize, &buffers);

  bool ok = true;
  uint32_t produced = 0;
  // Each pass presents only the bytes just read; the codec takes them all.
  // Output that filled the destination may have more behind it: it comes out
  // before the next read, so that the codec never holds much.
  for (;;) {
    const int32_t read =
        ChunkRead(source, buffers.source.data(), static_cast<int32_t>(sourceChunkSize));
    if (read <= 0) break;
    ok = ConvertAndWrite(*stream, buffers, destination, static_cast<uint32_t>(read), 0, &produced,
                         reason);
    while (ok && produced == kDestinationChunkSize) {
      ok = ConvertAndWrite(*stream, buffers, destination, 0, 0, &produced, reason);
    }
    if (!ok) break;
  }
  // What the codec still holds (a resampler's tail, a part block) comes out
  // once the source has ended.
  for (bool more = ok; more;) {
    ok = ConvertAndWrite(*stream, buffers, destination, 0, kConvertEnd, &produced, reason);
    more = ok && produced > 0;
  }
  CodecStreamUnprepareHeader(*stream, buffers.header);
  return ok;
}

}  // namespace unpak
