#include "codec/mpeg_header.h"

namespace {

constexpr uint32_t kMpeg1Kbps[15] = {0,   32,  40,  48,  56,  64,  80, 96,
                                     112, 128, 160, 192, 224, 256, 320};
constexpr uint32_t kMpeg2Kbps[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr uint32_t kMpeg1Rates[3] = {44100, 48000, 32000};

}  // namespace

std::optional<MpegHeader> ReadMpegHeader(const uint8_t* p) {
  const uint32_t version = (p[1] >> 3) & 3;  // 0: MPEG-2.5, 1: reserved, 2: MPEG-2, 3: MPEG-1
  const uint32_t layer = (p[1] >> 1) & 3;    // 1: Layer III
  const uint32_t bitrateIndex = p[2] >> 4;
  const uint32_t rateIndex = (p[2] >> 2) & 3;
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0 || version == 1 || layer != 1 || bitrateIndex == 15 ||
      rateIndex == 3) {
    return std::nullopt;
  }
  const bool mpeg1 = version == 3;
  MpegHeader header;
  header.rate = kMpeg1Rates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  header.freeFormat = bitrateIndex == 0;
  header.padding = (p[2] >> 1) & 1;
  const bool mono = (p[3] >> 6) == 3;
  const bool checksum = (p[1] & 1) == 0;
  header.shortest =
      kMpegHeaderSize + (checksum ? 2 : 0) + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
  if (!header.freeFormat) {
    // 1152 (MPEG-1) or 576 samples a frame, 8 bits a byte.
    const uint32_t kbps = (mpeg1 ? kMpeg1Kbps : kMpeg2Kbps)[bitrateIndex];
    header.length = (mpeg1 ? 144000 : 72000) * kbps / header.rate + header.padding;
  }
  return header;
}

bool SameMpegStream(const uint8_t* a, const uint8_t* b) {
  // Version and layer; rate index and whether the bitrate index is 0.
  return (a[1] & 0x1E) == (b[1] & 0x1E) && (a[2] & 0x0C) == (b[2] & 0x0C) &&
         ((a[2] >> 4) == 0) == ((b[2] >> 4) == 0);
}
