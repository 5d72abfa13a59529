#include "platform/mpeg_layer3.h"

#include <algorithm>
#include <iterator>

namespace unpak {

namespace {

constexpr uint32_t kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr uint32_t kLowestMpeg1Rate = 32000;
// By bitrate index 1 to 14; 0 is free format and 15 is reserved.
constexpr uint32_t kMpeg1Kbps[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr uint32_t kMpeg2Kbps[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
// By rate index, for MPEG-1; MPEG-2 halves them and MPEG-2.5 quarters them.
constexpr uint32_t kMpeg1Rates[3] = {44100, 48000, 32000};

bool IsMpeg1Rate(uint32_t mpegRate) { return mpegRate >= kLowestMpeg1Rate; }

const uint32_t* KbpsOf(bool mpeg1) { return mpeg1 ? kMpeg1Kbps : kMpeg2Kbps; }

}  // namespace

bool IsLayer3Rate(uint32_t rate) {
  return std::find(std::begin(kRates), std::end(kRates), rate) != std::end(kRates);
}

uint32_t Layer3RateAtOrBelow(uint32_t rate) {
  uint32_t chosen = 0;
  for (uint32_t mpegRate : kRates) {
    if (mpegRate <= rate) chosen = mpegRate;
  }
  return chosen;
}

uint32_t Layer3FrameSamples(uint32_t mpegRate) { return IsMpeg1Rate(mpegRate) ? 1152 : 576; }

bool IsLayer3Bitrate(uint32_t mpegRate, uint32_t kbps) {
  const uint32_t* table = KbpsOf(IsMpeg1Rate(mpegRate));
  return std::find(table, table + std::size(kMpeg1Kbps), kbps) != table + std::size(kMpeg1Kbps);
}

std::vector<uint32_t> Layer3Bitrates() {
  std::vector<uint32_t> all(std::begin(kMpeg2Kbps), std::end(kMpeg2Kbps));
  all.insert(all.end(), std::begin(kMpeg1Kbps), std::end(kMpeg1Kbps));
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  return all;
}

uint16_t Layer3FrameBytes(uint32_t mpegRate, uint32_t kbps) {
  // A frame holds Layer3FrameSamples / 8 bytes per bit-per-second of rate.
  return static_cast<uint16_t>(Layer3FrameSamples(mpegRate) / 8 * kbps * 1000 / mpegRate);
}

uint32_t Layer3SmallestFrame(uint32_t mpegRate) {
  return Layer3FrameBytes(mpegRate, KbpsOf(IsMpeg1Rate(mpegRate))[0]);
}

std::optional<Layer3Header> ReadLayer3Header(const uint8_t* p) {
  const uint32_t version = (p[1] >> 3) & 3;  // 0: MPEG-2.5, 1: reserved, 2: MPEG-2, 3: MPEG-1
  const uint32_t layer = (p[1] >> 1) & 3;    // 1: Layer III
  const uint32_t bitrateIndex = p[2] >> 4;
  const uint32_t rateIndex = (p[2] >> 2) & 3;
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0 || version == 1 || layer != 1 || bitrateIndex == 15 ||
      rateIndex == 3) {
    return std::nullopt;
  }
  Layer3Header header;
  header.mpeg1 = version == 3;
  header.rate = kMpeg1Rates[rateIndex] >> (header.mpeg1 ? 0 : version == 2 ? 1 : 2);
  header.channels = (p[3] >> 6) == 3 ? 1 : 2;
  header.freeFormat = bitrateIndex == 0;
  header.padding = (p[2] >> 1) & 1;
  const bool checksum = (p[1] & 1) == 0;
  const bool mono = header.channels == 1;
  header.shortest =
      kLayer3HeaderSize + (checksum ? 2 : 0) + (header.mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
  if (!header.freeFormat) {
    header.bitrate = 1000 * KbpsOf(header.mpeg1)[bitrateIndex - 1];
    // 1152 (MPEG-1) or 576 samples a frame, 8 bits a byte.
    header.length = (header.mpeg1 ? 144 : 72) * header.bitrate / header.rate + header.padding;
  }
  return header;
}

bool SameLayer3Stream(const uint8_t* a, const uint8_t* b) {
  // Version and layer; rate index and whether the bitrate index is 0.
  return (a[1] & 0x1E) == (b[1] & 0x1E) && (a[2] & 0x0C) == (b[2] & 0x0C) &&
         ((a[2] >> 4) == 0) == ((b[2] >> 4) == 0);
}

}  // namespace unpak
