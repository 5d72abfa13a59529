#pragma once

// MPEG audio Layer III: its sample rates, bit rates, frame sizes and frame
// headers, for MPEG-1, MPEG-2 and MPEG-2.5 alike. The codec module and the
// programs both read them from here.

#include <cstdint>
#include <optional>
#include <vector>

namespace unpak {

constexpr uint32_t kLayer3HeaderSize = 4;

// Whether `rate` is a sample rate of MPEG-1, MPEG-2 or MPEG-2.5.
bool IsLayer3Rate(uint32_t rate);

// The MPEG sample rate that audio at `rate` is encoded at: `rate` itself
// when it is one, else the nearest one below it; 0 below 8000 Hz.
uint32_t Layer3RateAtOrBelow(uint32_t rate);

// Sample frames per frame: 1152 for MPEG-1 rates, 576 for MPEG-2 and 2.5.
uint32_t Layer3FrameSamples(uint32_t mpegRate);

// Whether `kbps` is a bit rate of the MPEG version that `mpegRate` belongs to.
bool IsLayer3Bitrate(uint32_t mpegRate, uint32_t kbps);

// The bit rates of every MPEG version, in kbps, ascending.
std::vector<uint32_t> Layer3Bitrates();

// Bytes of one frame at that rate and bit rate, without the padding byte.
uint16_t Layer3FrameBytes(uint32_t mpegRate, uint32_t kbps);

// Bytes of a frame at the rate's lowest bit rate, without the padding byte.
uint32_t Layer3SmallestFrame(uint32_t mpegRate);

struct Layer3Header {
  bool mpeg1 = false;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint32_t bitrate = 0;     // bits per second; 0 for free format
  bool freeFormat = false;  // bitrate index 0: the next frame's header tells the length
  uint32_t padding = 0;     // 1 when the frame has a padding byte
  uint32_t length = 0;      // the whole frame, header included; 0 for free format
  uint32_t shortest = 0;    // the header, its checksum and side information
};

// The header whose 4 bytes start at `p`; nothing when they are not a Layer
// III one (no sync, a reserved version, rate or bitrate, another layer).
std::optional<Layer3Header> ReadLayer3Header(const uint8_t* p);

// True when the two headers belong to one stream: the same MPEG version,
// layer and rate, and both free format or neither.
bool SameLayer3Stream(const uint8_t* a, const uint8_t* b);

}  // namespace unpak
