#pragma once

#include <cstdint>

// Frame geometry of MPEG audio Layer III at one sample rate.
struct MpegFrameGeometry {
  uint32_t samplesPerFrame;  // per channel
  uint32_t smallestFrame;    // bytes of a frame at the lowest bitrate, rounded down
};

// False when `rate` is not an MPEG-1, MPEG-2 or MPEG-2.5 sample rate.
bool MpegGeometryForRate(uint32_t rate, MpegFrameGeometry* geometry);
