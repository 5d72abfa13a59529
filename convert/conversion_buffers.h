#pragma once

#include <cstdint>
#include <vector>

#include "platform/codec_service.h"

namespace unpak {

// A codec stream's source and destination buffers with the stream header
// that describes them. The header points into the buffers: keep the
// structure where it was prepared.
struct ConversionBuffers {
  std::vector<uint8_t> source;
  std::vector<uint8_t> destination;
  CodecStreamHeader header{};
};

// Allocates the buffers, neither of them empty, and prepares the header for
// `stream`, which has none prepared yet: the codec service takes it.
void PrepareConversion(CodecStream& stream, uint32_t sourceSize, uint32_t destinationSize,
                       ConversionBuffers* buffers);

}  // namespace unpak
