#pragma once

// Builds a driver table around a stream type, so that each driver writes
// only its own open, size and convert functions over its own stream.

#include <cstring>
#include <memory>
#include <string>

#include "platform/codec_driver.h"

using SuggestFunction = int32_t (*)(const uint8_t*, uint32_t, uint8_t*, uint32_t);

// Stream must have a std::string lastError. Open fills a new stream or gives
// a reason; Size and Convert act on an open stream.
template <typename Stream, auto Open, auto Size, auto Convert>
struct DriverTable {
  static Stream& Own(CodecDriverStream* stream) { return *reinterpret_cast<Stream*>(stream); }

  static int32_t OpenStream(const uint8_t* source, uint32_t sourceSize, const uint8_t* destination,
                            uint32_t destinationSize, CodecDriverStream** stream, char* reason,
                            uint32_t reasonSize) {
    std::unique_ptr<Stream> opened;
    std::string why;
    const int32_t result = Open(source, sourceSize, destination, destinationSize, &opened, &why);
    if (result != kCodecOk) {
      if (reason != nullptr && reasonSize > 0) {
        const size_t length = why.size() < reasonSize - 1 ? why.size() : reasonSize - 1;
        std::memcpy(reason, why.data(), length);
        reason[length] = '\0';
      }
      return result;
    }
    *stream = reinterpret_cast<CodecDriverStream*>(opened.release());
    return kCodecOk;
  }
  static int32_t StreamSize(CodecDriverStream* stream, uint32_t input, uint32_t* output,
                            uint32_t flags) {
    return Size(Own(stream), input, output, flags);
  }
  static int32_t ConvertStream(CodecDriverStream* stream, CodecStreamHeader* header,
                               uint32_t flags) {
    return Convert(Own(stream), *header, flags);
  }
  static const char* LastError(CodecDriverStream* stream) { return Own(stream).lastError.c_str(); }
  static void CloseStream(CodecDriverStream* stream) { delete &Own(stream); }

  static constexpr CodecDriver Make(const char* name, SuggestFunction suggest) {
    return {UNPAK_CODEC_DRIVER_ABI, name,      suggest,    OpenStream, StreamSize,
            ConvertStream,          LastError, CloseStream};
  }
};
