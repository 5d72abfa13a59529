#pragma once

// The RIFF chunks of a WAV file, as an archive entry keeps them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/pak_writer.h"

namespace unpak {

struct WaveChunks {
  std::vector<uint8_t> format;    // the "fmt " chunk's contents
  std::vector<RiffChunk> before;  // every other chunk before "data", in order
  std::vector<RiffChunk> after;   // every chunk after "data", in order
  uint64_t dataOffset = 0;        // the audio's first byte in the file
  uint32_t dataLength = 0;        // its length, cut to what the file holds
};

// Walks the RIFF WAVE form of the file held in `bytes`, up to the end its
// header states (a size of 0 states none) or the end of the file, whichever
// comes first. False, with
// the reason, when it is not a RIFF WAVE file, lacks "fmt " or "data", holds
// either twice, or a chunk other than "data" runs past the end of the file.
bool ReadWaveChunks(const uint8_t* bytes, size_t size, WaveChunks* chunks, std::string* reason);

}  // namespace unpak
