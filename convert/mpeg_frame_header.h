#pragma once

// MPEG audio Layer III frame headers.

#include <cstddef>
#include <cstdint>
#include <optional>

constexpr size_t kMpegFrameHeaderSize = 4;

// The fields of a Layer III frame header that stream checks and archive tools use.
struct MpegFrameHeader {
  bool mpeg1 = false;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint32_t bitrate = 0;  // bits per second
  size_t length = 0;     // whole frame, header included
};

// The header whose 4 bytes start at `p`; nothing when they are not a Layer
// III header with a known frame length (free format has none).
std::optional<MpegFrameHeader> ParseMpegFrameHeader(const uint8_t* p);
