#include "convert/payload_layout.h"

#include <algorithm>
#include <cstdio>

#include "platform/byte_order.h"

namespace unpak {

bool FindPayloadLayout(ChunkFile& source, PayloadLayout* layout, std::string* reason) {
  ChunkInfo form;
  if (!ChunkDescend(source, form, nullptr, 0)) {
    *reason = "the payload is not a RIFF file";
    return false;
  }
  const int64_t formStart = ChunkSeek(source, 0, SEEK_CUR);
  ChunkInfo skee;
  skee.ckid = MakeFourCC("skee");
  layout->hasDecodedLength = ChunkDescend(source, skee, &form, kChunkFind);
  if (layout->hasDecodedLength) {
    uint8_t value[4];
    if (skee.cksize < sizeof value || ChunkRead(source, value, sizeof value) != sizeof value) {
      *reason = "the payload's \"skee\" chunk is shorter than 4 bytes";
      return false;
    }
    layout->decodedLength = LoadLe32(value);
    layout->copyStart = ChunkSeek(source, 0, SEEK_CUR);
    if (!ChunkAscend(source, skee)) {
      *reason = "the payload's \"skee\" chunk runs past the end of the payload";
      return false;
    }
  } else {
    ChunkSeek(source, formStart, SEEK_SET);
  }
  ChunkInfo data;
  data.ckid = MakeFourCC("data");
  if (!ChunkDescend(source, data, &form, kChunkFind)) {
    *reason = layout->hasDecodedLength
                  ? "the payload has no \"data\" chunk after its \"skee\" chunk"
                  : "the payload has no \"data\" chunk";
    return false;
  }
  layout->compressedSize = data.cksize;
  layout->dataStart = data.dataOffset;
  // Without "skee" nothing is known to be meant for the output.
  if (!layout->hasDecodedLength) layout->copyStart = layout->dataStart - 8;
  // The tail starts after the compressed audio and its pad byte, wherever
  // decoding stops.
  layout->tailStart =
      layout->dataStart + int64_t{layout->compressedSize} + (layout->compressedSize & 1);
  return true;
}

std::span<const uint8_t> CompressedAudio(const uint8_t* payload, uint32_t payloadSize,
                                         const PayloadLayout& layout) {
  return {payload + layout.dataStart,
          static_cast<size_t>(std::clamp<int64_t>(int64_t{payloadSize} - layout.dataStart, 0,
                                                  layout.compressedSize))};
}

}  // namespace unpak
