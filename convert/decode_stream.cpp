#include "convert/decode_stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/codec_service.h"
#include "platform/console.h"
#include "platform/wave_format.h"

namespace {

constexpr uint32_t kBlocksPerPass = 32;
constexpr uint32_t kFallbackDestinationSize = 4096;

// Checks the fields the loop divides by or sizes its buffers with.
bool ReadDecodeFields(std::span<const uint8_t> sourceFormat, MpegLayer3Fields* fields,
                      uint16_t* blockAlign, std::string* reason) {
  const WaveFormat format = ReadWaveFormat(sourceFormat.data());
  if (format.wFormatTag != kWaveFormatMpegLayer3) {
    char tag[8];
    std::snprintf(tag, sizeof tag, "0x%04x", format.wFormatTag);
    *reason = std::string("the source format (tag ") + tag + ") is not MPEG Layer-3";
    return false;
  }
  if (!ReadMpegLayer3Fields(sourceFormat.data(), sourceFormat.size(), fields)) {
    *reason = "the source format block is too short for its MPEG Layer-3 fields";
    return false;
  }
  *blockAlign = format.nBlockAlign;
  if (fields->nBlockSize == 0 || *blockAlign == 0) {
    *reason = "the source format's nBlockSize or nBlockAlign is 0";
    return false;
  }
  return true;
}

}  // namespace

bool DecodeStream(ChunkFile& destination, std::span<const uint8_t> destinationFormat,
                  std::span<const uint8_t> sourceFormat, ChunkFile& source,
                  uint32_t compressedSize, uint32_t decodedLength, std::string* reason) {
  MpegLayer3Fields mpeg;
  uint16_t sourceBlockAlign = 0;
  if (!ReadDecodeFields(sourceFormat, &mpeg, &sourceBlockAlign, reason)) return false;
  CodecStreamPtr stream = CodecStreamOpen(sourceFormat, destinationFormat, reason);
  if (!stream) return false;

  const WaveFormat output = ReadWaveFormat(destinationFormat.data());
  const uint32_t sourceChunkSize = uint32_t{mpeg.nBlockSize} * kBlocksPerPass;
  uint32_t destinationChunkSize = kFallbackDestinationSize;
  if (!CodecStreamSize(*stream, sourceChunkSize, &destinationChunkSize, kStreamSizeSource) ||
      destinationChunkSize == 0) {
    destinationChunkSize = kFallbackDestinationSize;
  }
  std::vector<uint8_t> sourceBuffer(sourceChunkSize);
  std::vector<uint8_t> destinationBuffer(destinationChunkSize);
  CodecStreamHeader header{};
  header.cbStruct = sizeof header;
  header.pbSrc = sourceBuffer.data();
  header.cbSrcLength = sourceChunkSize;
  header.pbDst = destinationBuffer.data();
  header.cbDstLength = destinationChunkSize;
  if (!CodecStreamPrepareHeader(*stream, header)) {
    *reason = "the codec refused its conversion buffers";
    return false;
  }

  // The codec delay in bytes of the output; it is cut from the first audio,
  // across as many passes as it takes.
  uint64_t delayLeft =
      uint64_t{output.wBitsPerSample} * mpeg.nCodecDelay * output.nChannels / 8;
  const uint32_t alignedPass = uint32_t{sourceBlockAlign} * mpeg.nBlockSize;
  uint32_t remaining = compressedSize;
  uint32_t carried = 0;
  uint64_t written = 0;
  bool ok = true;
  while (remaining > 0) {
    const int32_t read = ChunkRead(source, sourceBuffer.data() + carried,
                                   static_cast<int32_t>(std::min(remaining, sourceChunkSize - carried)));
    if (read <= 0) break;
    remaining -= static_cast<uint32_t>(read);
    const uint32_t presented = carried + static_cast<uint32_t>(read);
    header.cbSrcLength = presented;
    const uint32_t flags = presented % alignedPass == 0 ? uint32_t{kConvertBlockAlign} : 0u;
    if (!CodecStreamConvert(*stream, header, flags)) {
      *reason = "the MP3 audio cannot be decoded: " + CodecStreamError(*stream);
      ok = false;
      break;
    }

    const uint32_t produced = header.cbDstLengthUsed;
    if (produced > 0) {
      const uint32_t skip = static_cast<uint32_t>(std::min<uint64_t>(delayLeft, produced));
      delayLeft -= skip;
      int64_t length = produced - skip;
      written += static_cast<uint64_t>(length);
      if (written > decodedLength) {
        length -= static_cast<int64_t>(written - decodedLength);
        // Odd lengths of 8-bit audio lose two bytes, as they always have.
        if (output.wBitsPerSample == 8 && decodedLength % 2 == 1) length -= 2;
        remaining = 0;
      }
      if (length > 0) {
        ChunkWrite(destination, destinationBuffer.data() + skip, static_cast<int32_t>(length));
      }
    }

    const uint32_t used = header.cbSrcLengthUsed;
    carried = used < presented ? presented - used : 0;
    if (carried > 0) std::memmove(sourceBuffer.data(), sourceBuffer.data() + used, carried);

    if (produced > 0) ConsolePrint("#");
  }
  CodecStreamUnprepareHeader(*stream, header);
  return ok;
}
