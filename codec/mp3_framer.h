#pragma once

// Finds the MPEG audio Layer III frames in a byte stream as a resyncing
// decoder does. A header where the last frame ended (or at the stream's
// start), at the rate the stream should have and of its kind (fixed bitrate
// or free format), starts a frame. Any other header starts one only once the
// header after that frame agrees with it; until then it is junk, which is
// skipped byte by byte.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/mpeg_layer3.h"

namespace unpak {

// The longest frame libmpg123 takes: only free format comes near it.
constexpr uint32_t kLongestLayer3Frame = kLayer3HeaderSize + 3456;

struct Mp3Framer {
  uint32_t rate = 0;          // the rate the stream's frames should have
  std::vector<uint8_t> held;  // bytes not framed or skipped yet, from `start` on
  size_t start = 0;
  bool atFrame = true;             // `start` is where the last frame ended, or the stream's start
  std::optional<bool> freeFormat;  // the kind of the first frame
  uint32_t freeLength = 0;         // the stream's free-format frames' length without padding
};

struct Mp3Frame {
  std::span<const uint8_t> bytes;  // valid until the framer is next used
  Layer3Header header;
};

// Bytes held that are not framed or skipped yet.
size_t Mp3FramerHeld(const Mp3Framer& framer);

void AddToMp3Framer(Mp3Framer& framer, const uint8_t* bytes, size_t count);

// The next frame; nothing while more bytes are needed to find it. With `end`
// no more bytes come: nothing means no frame is left, and what was held is
// dropped.
std::optional<Mp3Frame> NextMp3Frame(Mp3Framer& framer, bool end);

}  // namespace unpak
