#include "convert/source_format.h"

#include <algorithm>
#include <cstdio>

#include "platform/byte_order.h"

namespace unpak {

std::optional<FormatBlock> ReadSourceFormat(ChunkFile& source, SourceFormatProblem* problem) {
  ChunkInfo form;
  ChunkInfo format;
  format.ckid = MakeFourCC("fmt ");
  if (!ChunkDescend(source, form, nullptr, 0) || !ChunkDescend(source, format, &form, kChunkFind)) {
    *problem = {"the payload has no \"fmt \" chunk", "Can't find format chunk\n"};
    return std::nullopt;
  }
  uint8_t header[kWaveFormatSize];
  if (ChunkRead(source, header, sizeof header) < static_cast<int32_t>(sizeof header)) {
    *problem = {"the payload's \"fmt \" chunk is shorter than 18 bytes",
                "Can't read format chunk\n"};
    return std::nullopt;
  }
  const uint16_t tag = LoadLe16(header);
  // A PCM "fmt " chunk may hold only 16 bytes; its last two bytes read above
  // then belong to the next chunk and are never used.
  const uint16_t extra = tag == kWaveFormatPcm ? 0 : LoadLe16(header + 16);
  if (kWaveFormatSize + extra > format.cksize && tag != kWaveFormatPcm) {
    problem->reason = "the payload's \"fmt \" chunk holds " + std::to_string(format.cksize) +
                      " bytes, fewer than its cbSize of " + std::to_string(extra) + " claims";
    return std::nullopt;
  }
  FormatBlock block(kWaveFormatSize + extra);
  std::copy(header, header + kWaveFormatSize, block.begin());
  StoreLe16(block.data() + 16, extra);
  if (extra > 0 && ChunkRead(source, block.data() + kWaveFormatSize, extra) != extra) {
    problem->reason = "the payload's \"fmt \" chunk cannot be read whole";
    return std::nullopt;
  }
  ChunkAscend(source, format);
  ChunkAscend(source, form);
  ChunkSeek(source, 0, SEEK_SET);
  return block;
}

bool CheckSourceFormat(std::span<const uint8_t> sourceFormat, MpegLayer3Fields* fields,
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

}  // namespace unpak
