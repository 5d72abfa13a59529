#include "platform/codec_service.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "platform/byte_order.h"

namespace unpak {

namespace {

// What a header looked like when it was prepared; conversions may not go
// beyond it.
struct PreparedHeader {
  const CodecStreamHeader* header;
  const uint8_t* pbSrc;
  uint32_t cbSrcLength;
  const uint8_t* pbDst;
  uint32_t cbDstLength;
};

std::vector<const CodecDriver*>& Drivers() {
  static std::vector<const CodecDriver*> drivers;
  return drivers;
}

bool IsComplete(const CodecDriver& driver) {
  return driver.suggestFormat && driver.openStream && driver.streamSize && driver.convert &&
         driver.lastError && driver.closeStream;
}

uint16_t FormatTag(std::span<const uint8_t> format) {
  return format.size() >= 2 ? LoadLe16(format.data()) : 0;
}

}  // namespace

struct CodecStream {
  const CodecDriver* driver;
  CodecDriverStream* driverStream;
  std::optional<PreparedHeader> prepared;  // one prepared header at a time
  std::string error;                       // set when the service itself refused
};

void CodecStreamCloser::operator()(CodecStream* stream) const {
  stream->driver->closeStream(stream->driverStream);
  delete stream;
}

bool CodecDriverAdd(CodecDriverEntry entry) {
  std::vector<const CodecDriver*> added;
  for (uint32_t index = 0; entry != nullptr; ++index) {
    const CodecDriver* driver = entry(index);
    if (driver == nullptr) break;
    if (driver->abiVersion != UNPAK_CODEC_DRIVER_ABI || !IsComplete(*driver)) return false;
    added.push_back(driver);
  }
  if (added.empty()) return false;
  Drivers().insert(Drivers().end(), added.begin(), added.end());
  return true;
}

bool CodecFormatSuggest(std::span<const uint8_t> source, std::span<uint8_t> suggested) {
  for (const CodecDriver* driver : Drivers()) {
    if (driver->suggestFormat(source.data(), static_cast<uint32_t>(source.size()), suggested.data(),
                              static_cast<uint32_t>(suggested.size())) == kCodecOk) {
      return true;
    }
  }
  return false;
}

CodecStreamPtr CodecStreamOpen(std::span<const uint8_t> source,
                               std::span<const uint8_t> destination, std::string* reason) {
  std::string lastReason;
  for (const CodecDriver* driver : Drivers()) {
    char text[256] = {};
    CodecDriverStream* driverStream = nullptr;
    int32_t result = driver->openStream(
        source.data(), static_cast<uint32_t>(source.size()), destination.data(),
        static_cast<uint32_t>(destination.size()), &driverStream, text, sizeof text);
    if (result == kCodecOk && driverStream) {
      return CodecStreamPtr(new CodecStream{driver, driverStream, std::nullopt, {}});
    }
    text[sizeof text - 1] = '\0';
    if (text[0] != '\0') lastReason = text;
  }
  if (reason) {
    if (lastReason.empty()) {
      char text[80];
      std::snprintf(text, sizeof text, "no codec converts format tag 0x%04x to format tag 0x%04x",
                    FormatTag(source), FormatTag(destination));
      lastReason = text;
    }
    *reason = lastReason;
  }
  return nullptr;
}

bool CodecStreamSize(CodecStream& stream, uint32_t input, uint32_t* output, uint32_t flags) {
  return stream.driver->streamSize(stream.driverStream, input, output, flags) == kCodecOk;
}

bool CodecStreamPrepareHeader(CodecStream& stream, CodecStreamHeader& header) {
  if (stream.prepared || header.cbStruct != sizeof(CodecStreamHeader) || !header.pbSrc ||
      !header.pbDst) {
    return false;
  }
  stream.prepared =
      PreparedHeader{&header, header.pbSrc, header.cbSrcLength, header.pbDst, header.cbDstLength};
  return true;
}

void CodecStreamUnprepareHeader(CodecStream& stream, CodecStreamHeader& header) {
  if (stream.prepared && stream.prepared->header == &header) stream.prepared.reset();
}

namespace {

// Why `header` may not be converted as it stands, or null when it may.
const char* HeaderFault(const CodecStream& stream, const CodecStreamHeader& header) {
  const std::optional<PreparedHeader>& prepared = stream.prepared;
  if (!prepared || prepared->header != &header) return "the stream header is not prepared";
  if (header.pbSrc != prepared->pbSrc || header.pbDst != prepared->pbDst) {
    return "the stream header's buffers changed after it was prepared";
  }
  if (header.cbSrcLength > prepared->cbSrcLength || header.cbDstLength > prepared->cbDstLength) {
    return "the stream header's lengths exceed the prepared buffers";
  }
  return nullptr;
}

}  // namespace

bool CodecStreamConvert(CodecStream& stream, CodecStreamHeader& header, uint32_t flags) {
  header.cbSrcLengthUsed = 0;
  header.cbDstLengthUsed = 0;
  if (const char* fault = HeaderFault(stream, header)) {
    stream.error = fault;
    return false;
  }
  stream.error.clear();
  const uint32_t srcLength = header.cbSrcLength;
  const uint32_t dstLength = header.cbDstLength;
  int32_t result = stream.driver->convert(stream.driverStream, &header, flags);
  header.cbSrcLength = srcLength;  // the driver reports through the Used counts only
  header.cbDstLength = dstLength;
  if (header.cbSrcLengthUsed > srcLength || header.cbDstLengthUsed > dstLength) {
    // Never let a caller read or write past its buffers on a driver's word.
    char text[160];
    std::snprintf(text, sizeof text,
                  "codec %s reported %u of %u source bytes and %u of %u destination bytes used",
                  stream.driver->name ? stream.driver->name : "(unnamed)", header.cbSrcLengthUsed,
                  srcLength, header.cbDstLengthUsed, dstLength);
    stream.error = text;
    header.cbSrcLengthUsed = 0;
    header.cbDstLengthUsed = 0;
    return false;
  }
  return result == kCodecOk;
}

std::string CodecStreamError(CodecStream& stream) {
  if (!stream.error.empty()) return stream.error;
  const char* text = stream.driver->lastError(stream.driverStream);
  return text ? text : "";
}

}  // namespace unpak
