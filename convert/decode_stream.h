#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/chunk_file.h"
#include "platform/wave_format.h"

namespace unpak {

// Decodes `compressedSize` bytes of MPEG Layer-3 audio read from `source` into
// PCM of `destinationFormat`, written to `destination` at its position. The
// source format's nCodecDelay sample frames are cut from the front and at
// most `decodedLength` bytes are kept. Prints "#" for every pass that
// produced audio. `decodedBytes` counts the audio decoded after the delay,
// before the cap. False, with the reason, when the audio cannot be decoded.
bool DecodeStream(ChunkFile& destination, std::span<const uint8_t> destinationFormat,
                  std::span<const uint8_t> sourceFormat, ChunkFile& source, uint32_t compressedSize,
                  uint32_t decodedLength, uint64_t* decodedBytes, std::string* reason);

}  // namespace unpak
