#include "platform/wave_format.h"

#include "platform/byte_order.h"

namespace unpak {

WaveFormat ReadWaveFormat(const uint8_t* block) {
  WaveFormat format;
  format.wFormatTag = LoadLe16(block);
  format.nChannels = LoadLe16(block + 2);
  format.nSamplesPerSec = LoadLe32(block + 4);
  format.nAvgBytesPerSec = LoadLe32(block + 8);
  format.nBlockAlign = LoadLe16(block + 12);
  format.wBitsPerSample = LoadLe16(block + 14);
  format.cbSize = LoadLe16(block + 16);
  return format;
}

void WriteWaveFormat(const WaveFormat& format, uint8_t* block) {
  StoreLe16(block, format.wFormatTag);
  StoreLe16(block + 2, format.nChannels);
  StoreLe32(block + 4, format.nSamplesPerSec);
  StoreLe32(block + 8, format.nAvgBytesPerSec);
  StoreLe16(block + 12, format.nBlockAlign);
  StoreLe16(block + 14, format.wBitsPerSample);
  StoreLe16(block + 16, format.cbSize);
}

FormatBlock MakeFormatBlock(const WaveFormat& format) {
  FormatBlock block(kWaveFormatSize + format.cbSize, 0);
  WriteWaveFormat(format, block.data());
  return block;
}

bool ReadMpegLayer3Fields(const uint8_t* block, size_t size, MpegLayer3Fields* fields) {
  if (size < kWaveFormatSize + kMpegLayer3ExtraSize ||
      LoadLe16(block + 16) < kMpegLayer3ExtraSize) {
    return false;
  }
  const uint8_t* extra = block + kWaveFormatSize;
  fields->wID = LoadLe16(extra);
  fields->fdwFlags = LoadLe32(extra + 2);
  fields->nBlockSize = LoadLe16(extra + 6);
  fields->nFramesPerBlock = LoadLe16(extra + 8);
  fields->nCodecDelay = LoadLe16(extra + 10);
  return true;
}

}  // namespace unpak
