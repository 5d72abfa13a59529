#pragma once

// The codec service: a registry of drivers and streams that convert audio
// from one wave format to another through whichever driver can do it.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/codec_driver.h"

namespace unpak {

// Registers every driver that the entry gives; later suggestions and stream
// opens may use them, in that order. Returns false, registering none, when
// the entry gives no table, or one of another version or with a function
// missing.
bool CodecDriverAdd(CodecDriverEntry entry);

// Completes `suggested` (at least 18 bytes, wFormatTag preset) with a format
// that `source` can be converted to. False when no driver knows one.
bool CodecFormatSuggest(std::span<const uint8_t> source, std::span<uint8_t> suggested);

struct CodecStream;
struct CodecStreamCloser {
  void operator()(CodecStream* stream) const;
};
using CodecStreamPtr = std::unique_ptr<CodecStream, CodecStreamCloser>;

// Opens a conversion with the first driver that accepts it. On failure
// returns null and puts the last driver's reason (or "no codec converts ...")
// in `reason`.
CodecStreamPtr CodecStreamOpen(std::span<const uint8_t> source,
                               std::span<const uint8_t> destination, std::string* reason);

// kStreamSizeSource or kStreamSizeDestination; false when there is no answer.
bool CodecStreamSize(CodecStream& stream, uint32_t input, uint32_t* output, uint32_t flags);

// A header must be prepared before it is converted and unprepared afterwards.
// Preparing checks cbStruct and the buffers; the buffers and cbDstLength stay
// fixed until unprepare.
bool CodecStreamPrepareHeader(CodecStream& stream, CodecStreamHeader& header);
void CodecStreamUnprepareHeader(CodecStream& stream, CodecStreamHeader& header);

// Flags 0, kConvertBlockAlign or kConvertEnd. False on failure;
// CodecStreamError says why.
bool CodecStreamConvert(CodecStream& stream, CodecStreamHeader& header, uint32_t flags);
std::string CodecStreamError(CodecStream& stream);

}  // namespace unpak
