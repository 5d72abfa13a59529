#pragma once

// MPEG audio Layer III frame headers, as far as finding frames needs them.

#include <cstdint>
#include <optional>

constexpr uint32_t kMpegHeaderSize = 4;
// The longest frame libmpg123 takes: only free format comes near it.
constexpr uint32_t kMpegLongestFrame = kMpegHeaderSize + 3456;

struct MpegHeader {
  uint32_t rate = 0;
  bool freeFormat = false;  // bitrate index 0: the next frame's header tells the length
  uint32_t padding = 0;     // 1 when the frame has a padding byte
  uint32_t length = 0;      // the whole frame, header included; 0 for free format
  uint32_t shortest = 0;    // the header, its checksum and side information
};

// The Layer III header whose 4 bytes start at `p`; nothing when they are not
// one (no sync, a reserved version, rate or bitrate, another layer).
std::optional<MpegHeader> ReadMpegHeader(const uint8_t* p);

// True when the two headers belong to one stream: the same MPEG version,
// layer and rate, and both free format or neither.
bool SameMpegStream(const uint8_t* a, const uint8_t* b);
