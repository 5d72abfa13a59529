#include "convert/mpeg_frame_header.h"

std::optional<MpegFrameHeader> ParseMpegFrameHeader(const uint8_t* p) {
  static constexpr uint16_t kMpeg1Kbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                              112, 128, 160, 192, 224, 256, 320, 0};
  static constexpr uint16_t kMpeg2Kbps[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                              64, 80, 96, 112, 128, 144, 160, 0};
  static constexpr uint32_t kMpeg1Rates[3] = {44100, 48000, 32000};

  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return std::nullopt;
  const int version = (p[1] >> 3) & 3;  // 0: MPEG-2.5, 1: reserved, 2: MPEG-2, 3: MPEG-1
  const int layer = (p[1] >> 1) & 3;    // 1: Layer III
  const int bitrateIndex = p[2] >> 4;
  const int rateIndex = (p[2] >> 2) & 3;
  if (version == 1 || layer != 1 || rateIndex == 3) return std::nullopt;
  // Index 0 is free format, whose frame length the header does not give.
  if (bitrateIndex == 0 || bitrateIndex == 15) return std::nullopt;

  MpegFrameHeader header;
  header.mpeg1 = version == 3;
  const int rateShift = version == 3 ? 0 : version == 2 ? 1 : 2;
  header.rate = kMpeg1Rates[rateIndex] >> rateShift;
  header.bitrate = 1000u * (header.mpeg1 ? kMpeg1Kbps : kMpeg2Kbps)[bitrateIndex];
  header.channels = ((p[3] >> 6) == 3) ? 1 : 2;
  // Layer III: 1152 (MPEG-1) or 576 samples per frame, 8 bits per byte.
  const uint32_t lengthFactor = header.mpeg1 ? 144 : 72;
  header.length = lengthFactor * header.bitrate / header.rate + ((p[2] >> 1) & 1);
  return header;
}
