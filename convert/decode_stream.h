#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/chunk_file.h"
#include "platform/wave_format.h"

// Checks that `sourceFormat` is an MPEG Layer-3 block whose fields the decode
// loop can divide by and size its buffers with. False, with the reason, if not.
bool CheckMpegSource(std::span<const uint8_t> sourceFormat, MpegLayer3Fields* fields,
                     WaveFormat* format, std::string* reason);

// Decodes `compressedSize` bytes of MPEG Layer-3 audio read from `source` into
// PCM of `destinationFormat`, written to `destination` at its position. The
// source format's nCodecDelay sample frames are cut from the front and at
// most `decodedLength` bytes are kept. Prints "#" for every pass that
// produced audio. `decodedBytes` counts the audio decoded after the delay,
// before the cap. False, with the reason, when the audio cannot be decoded.
bool DecodeStream(ChunkFile& destination, std::span<const uint8_t> destinationFormat,
                  std::span<const uint8_t> sourceFormat, ChunkFile& source, uint32_t compressedSize,
                  uint32_t decodedLength, uint64_t* decodedBytes, std::string* reason);
