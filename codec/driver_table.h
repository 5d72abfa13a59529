#pragma once

// Builds a driver table around a stream type, so that each driver writes
// only its own suggest, open, size and convert functions over its own
// stream. No exception crosses the table: a failed allocation fails the call.

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "platform/codec_driver.h"

namespace unpak {

// Short enough that the string holding it needs no allocation.
inline constexpr char kOutOfMemory[] = "out of memory";

// Stream must have a std::string lastError. Suggest completes a format; Open
// fills a new stream or gives a reason; Size and Convert act on an open
// stream.
template <typename Stream, auto Suggest, auto Open, auto Size, auto Convert>
struct DriverTable {
  static Stream& Own(CodecDriverStream* stream) { return *reinterpret_cast<Stream*>(stream); }

  static int32_t SuggestFormat(const uint8_t* source, uint32_t sourceSize, uint8_t* suggested,
                               uint32_t suggestedSize) {
    try {
      return Suggest(source, sourceSize, suggested, suggestedSize);
    } catch (const std::bad_alloc&) {
      return kCodecError;
    }
  }
  static int32_t OpenStream(const uint8_t* source, uint32_t sourceSize, const uint8_t* destination,
                            uint32_t destinationSize, CodecDriverStream** stream, char* reason,
                            uint32_t reasonSize) {
    std::unique_ptr<Stream> opened;
    std::string why;
    int32_t result = kCodecError;
    try {
      result = Open(source, sourceSize, destination, destinationSize, &opened, &why);
    } catch (const std::bad_alloc&) {
      why = kOutOfMemory;
    }
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
    try {
      return Convert(Own(stream), *header, flags);
    } catch (const std::bad_alloc&) {
      Own(stream).lastError = kOutOfMemory;
      return kCodecError;
    }
  }
  static const char* LastError(CodecDriverStream* stream) { return Own(stream).lastError.c_str(); }
  static void CloseStream(CodecDriverStream* stream) { delete &Own(stream); }

  static consteval CodecDriver Make(const char* name) {
    return {UNPAK_CODEC_DRIVER_ABI, name,      SuggestFormat, OpenStream, StreamSize,
            ConvertStream,          LastError, CloseStream};
  }
};

}  // namespace unpak
