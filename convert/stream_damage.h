#pragma once

// Damage in a stream of MPEG Layer III frames that a decoder passes over
// quietly, found by walking the frame headers.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace unpak {

struct StreamDamage {
  uint32_t frames = 0;        // whole frames found
  uint32_t gaps = 0;          // places where bytes that are no frame had to be skipped
  uint64_t skippedBytes = 0;  // their bytes
  bool endsInsideFrame = false;
  bool freeFormat = false;  // frames without a stated length: not walked further
};

StreamDamage FindStreamDamage(const uint8_t* data, size_t size);

// The damage in an entry's MP3 stream: the "data" chunk's bytes that the
// payload holds, from `dataStart` on, at most `compressedSize` of them.
StreamDamage FindEntryStreamDamage(const uint8_t* payload, uint32_t payloadSize, int64_t dataStart,
                                   uint32_t compressedSize);

// What is wrong, in words; empty when nothing is.
std::vector<std::string> DescribeDamage(const StreamDamage& damage);

}  // namespace unpak
