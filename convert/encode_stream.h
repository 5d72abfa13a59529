#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/chunk_file.h"

namespace unpak {

// Encodes the raw PCM of `source` (`sourceFormat`), read from its position to
// its end, into `destinationFormat`, written to `destination` at its
// position. False, with the reason, when the codec cannot do it.
bool EncodeStream(ChunkFile& source, ChunkFile& destination, std::span<const uint8_t> sourceFormat,
                  std::span<const uint8_t> destinationFormat, std::string* reason);

}  // namespace unpak
