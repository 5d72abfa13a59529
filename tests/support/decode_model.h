#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// What the decode loop should print and write for one entry, modelled on a
// codec that takes every byte it is given and puts out each frame's audio
// as soon as the frame's last byte is in.
struct DecodeModelInput {
  std::vector<size_t> frameEnds;  // offsets just past each complete frame
  uint32_t compressedSize = 0;    // the "data" chunk's length
  uint32_t chunkSize = 0;         // bytes read per pass: nBlockSize * 32
  uint32_t bytesPerFrame = 0;     // decoded bytes per frame in the target format
  uint32_t skipBytes = 0;         // the codec delay in target bytes
  std::optional<uint32_t> cap;    // decodedLength, when there is a "skee" chunk
  bool eightBit = false;
};

struct DecodeExpectation {
  int marks = 0;              // progress marks, one per pass with audio
  uint32_t dataLength = 0;    // bytes the "data" chunk receives
};

DecodeExpectation ModelDecode(const DecodeModelInput& input);
