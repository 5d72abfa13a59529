#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/codec_service.h"

// A codec stream's source and destination buffers with the stream header
// that describes them. The header points into the buffers: keep the
// structure where it was prepared.
struct ConversionBuffers {
  std::vector<uint8_t> source;
  std::vector<uint8_t> destination;
  CodecStreamHeader header{};
};

// Allocates the buffers and prepares the header for `stream`. False, with the
// reason, when the stream refuses them.
bool PrepareConversion(CodecStream& stream, uint32_t sourceSize, uint32_t destinationSize,
                       ConversionBuffers* buffers, std::string* reason);
