#pragma once

// The MPEG audio Layer III stream that an archive entry is encoded to: its
// sample rate, bit rate and frame size.

#include <cstdint>
#include <vector>

struct Mp3Settings {
  uint32_t rate = 0;  // an MPEG sample rate
  uint16_t channels = 0;
  uint32_t kbps = 0;
  int quality = 2;  // LAME's: 0 (best) to 9 (fastest)
};

// The MPEG sample rate that audio at `rate` is encoded at: `rate` itself
// when it is one, else the nearest one below it; 0 below 8000 Hz.
uint32_t MpegRateAtOrBelow(uint32_t rate);

// Sample frames per Layer III frame: 1152 for MPEG-1 rates, 576 for MPEG-2
// and 2.5.
uint32_t Layer3FrameSamples(uint32_t mpegRate);

// Whether `kbps` is a Layer III bit rate of the MPEG version that `mpegRate`
// belongs to.
bool IsLayer3Bitrate(uint32_t mpegRate, uint32_t kbps);

// The Layer III bit rates of every MPEG version, in kbps, ascending.
std::vector<uint32_t> Layer3Bitrates();

// The bit rate used when none is asked for: 128 kbps at 32000 Hz and above,
// 64 below.
uint32_t DefaultKbps(uint32_t mpegRate);

// Bytes of one frame at that rate and bit rate, without the padding byte.
uint16_t Layer3FrameBytes(uint32_t mpegRate, uint32_t kbps);
