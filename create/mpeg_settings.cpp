#include "create/mpeg_settings.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr uint32_t kMpegRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr uint32_t kLowestMpeg1Rate = 32000;
constexpr uint32_t kMpeg1Kbps[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr uint32_t kMpeg2Kbps[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

bool Contains(const uint32_t* begin, const uint32_t* end, uint32_t value) {
  return std::find(begin, end, value) != end;
}

}  // namespace

uint32_t MpegRateAtOrBelow(uint32_t rate) {
  uint32_t chosen = 0;
  for (uint32_t mpegRate : kMpegRates) {
    if (mpegRate <= rate) chosen = mpegRate;
  }
  return chosen;
}

uint32_t Layer3FrameSamples(uint32_t mpegRate) { return mpegRate >= kLowestMpeg1Rate ? 1152 : 576; }

bool IsLayer3Bitrate(uint32_t mpegRate, uint32_t kbps) {
  return mpegRate >= kLowestMpeg1Rate
             ? Contains(std::begin(kMpeg1Kbps), std::end(kMpeg1Kbps), kbps)
             : Contains(std::begin(kMpeg2Kbps), std::end(kMpeg2Kbps), kbps);
}

std::vector<uint32_t> Layer3Bitrates() {
  std::vector<uint32_t> all(std::begin(kMpeg2Kbps), std::end(kMpeg2Kbps));
  all.insert(all.end(), std::begin(kMpeg1Kbps), std::end(kMpeg1Kbps));
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  return all;
}

uint32_t DefaultKbps(uint32_t mpegRate) { return mpegRate >= kLowestMpeg1Rate ? 128 : 64; }

uint16_t Layer3FrameBytes(uint32_t mpegRate, uint32_t kbps) {
  // A frame holds Layer3FrameSamples / 8 bytes per bit-per-second of rate.
  return static_cast<uint16_t>(Layer3FrameSamples(mpegRate) / 8 * kbps * 1000 / mpegRate);
}
