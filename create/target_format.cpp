#include "create/target_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "archive/pak_format.h"
#include "platform/byte_order.h"

namespace unpak {

namespace {

// A "fmt " chunk may stop after wBitsPerSample.
constexpr size_t kShortestFormat = 16;
// WAVE_FORMAT_EXTENSIBLE: the 18-byte header, wValidBitsPerSample,
// dwChannelMask, then the SubFormat GUID, whose first two bytes are the
// plain format's tag and whose other 14 are these.
constexpr size_t kExtensibleSize = 40;
constexpr size_t kSubFormatOffset = 24;
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool Refuse(const std::string& why, std::string* reason) {
  *reason = why;
  return false;
}

std::string TagText(uint16_t tag) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", tag);
  return text;
}

// The plain block of an extensible one: its header with the subformat's tag
// and no extra bytes.
bool PlainFromExtensible(const std::vector<uint8_t>& format, FormatBlock* target,
                         std::string* reason) {
  if (format.size() < kExtensibleSize) {
    return Refuse("its WAVE_FORMAT_EXTENSIBLE \"fmt \" chunk holds " +
                      std::to_string(format.size()) + " bytes, fewer than " +
                      std::to_string(kExtensibleSize),
                  reason);
  }
  const uint8_t* subFormat = format.data() + kSubFormatOffset;
  const uint16_t tag = LoadLe16(subFormat);
  if ((tag != kWaveFormatPcm && tag != kWaveFormatIeeeFloat) ||
      std::memcmp(subFormat + 2, kSubFormatTail, sizeof kSubFormatTail) != 0) {
    return Refuse("its WAVE_FORMAT_EXTENSIBLE subformat is neither PCM nor IEEE float", reason);
  }
  WaveFormat plain = ReadWaveFormat(format.data());
  plain.wFormatTag = tag;
  plain.cbSize = 0;
  *target = MakeFormatBlock(plain);
  return true;
}

}  // namespace

bool ChooseTargetFormat(const std::vector<uint8_t>& format, FormatBlock* target,
                        std::string* reason) {
  if (format.size() < kShortestFormat) {
    return Refuse("its \"fmt \" chunk holds only " + std::to_string(format.size()) + " bytes",
                  reason);
  }
  // The header, with cbSize 0 where the chunk stops before it.
  FormatBlock header(kWaveFormatSize, 0);
  std::copy_n(format.begin(), std::min(format.size(), kWaveFormatSize), header.begin());
  const WaveFormat read = ReadWaveFormat(header.data());
  if (read.nChannels != 1 && read.nChannels != 2) {
    return Refuse("it has " + std::to_string(read.nChannels) +
                      " channels; an archive entry holds mono or stereo audio",
                  reason);
  }
  if (read.wFormatTag == kWaveFormatExtensible) return PlainFromExtensible(format, target, reason);
  if (read.wFormatTag == kWaveFormatPcm) {
    // unpak writes PCM blocks without cbSize.
    header[16] = header[17] = 0;
    *target = header;
    return true;
  }
  if (read.cbSize > kTargetFormatMaxExtra) {
    return Refuse("its format (tag " + TagText(read.wFormatTag) + ") has a block of " +
                      std::to_string(kWaveFormatSize + read.cbSize) +
                      " bytes, more than the archive's " + std::to_string(kTargetFormatSize) +
                      "-byte target field holds",
                  reason);
  }
  if (format.size() < kWaveFormatSize) {
    *target = header;  // no cbSize field: no extra bytes
    return true;
  }
  if (format.size() < kWaveFormatSize + read.cbSize) {
    return Refuse("its \"fmt \" chunk holds " + std::to_string(format.size()) +
                      " bytes, fewer than its cbSize of " + std::to_string(read.cbSize) + " says",
                  reason);
  }
  target->assign(format.begin(), format.begin() + kWaveFormatSize + read.cbSize);
  return true;
}

}  // namespace unpak
