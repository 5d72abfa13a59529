#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <string>

#include "platform/chunk_file.h"

namespace unpak {

// Where the pieces of an entry's payload lie.
struct PayloadLayout {
  bool hasDecodedLength = false;                                  // a "skee" chunk states the cap
  uint32_t decodedLength = std::numeric_limits<uint32_t>::max();  // no "skee": no cap
  int64_t copyStart = 0;  // first byte after the "skee" value
  int64_t dataStart = 0;  // first byte of the compressed audio
  uint32_t compressedSize = 0;
  int64_t tailStart = 0;  // first byte after the compressed audio and its pad byte
};

// Finds "skee" and "data" in the RIFF form at `source`'s position 0. False,
// with the reason, when the form or its "data" chunk is missing or "skee" is
// short. The source's position is then not relied on.
bool FindPayloadLayout(ChunkFile& source, PayloadLayout* layout, std::string* reason);

// The compressed audio, as far as the payload holds it.
std::span<const uint8_t> CompressedAudio(const uint8_t* payload, uint32_t payloadSize,
                                         const PayloadLayout& layout);

}  // namespace unpak
