#include "codec/mp3_driver.h"

#include <cstring>
#include <memory>
#include <string>

#include "codec/mp3_formats.h"
#include "codec/mp3_stream.h"

namespace {

void CopyReason(const std::string& text, char* reason, uint32_t reasonSize) {
  if (!reason || reasonSize == 0) return;
  const size_t length = text.size() < reasonSize - 1 ? text.size() : reasonSize - 1;
  std::memcpy(reason, text.data(), length);
  reason[length] = '\0';
}

int32_t OpenStream(const uint8_t* source, uint32_t sourceSize, const uint8_t* destination,
                   uint32_t destinationSize, CodecDriverStream** stream, char* reason,
                   uint32_t reasonSize) {
  std::unique_ptr<Mp3DecodeStream> opened;
  std::string why;
  const int32_t result =
      OpenMp3Stream(source, sourceSize, destination, destinationSize, &opened, &why);
  if (result != kCodecOk) {
    CopyReason(why, reason, reasonSize);
    return result;
  }
  *stream = reinterpret_cast<CodecDriverStream*>(opened.release());
  return kCodecOk;
}

// The service hands back the handle that OpenStream gave it.
Mp3DecodeStream& Own(CodecDriverStream* stream) { return *reinterpret_cast<Mp3DecodeStream*>(stream); }

int32_t StreamSize(CodecDriverStream* stream, uint32_t input, uint32_t* output, uint32_t flags) {
  return Mp3StreamSize(Own(stream), input, output, flags);
}

int32_t Convert(CodecDriverStream* stream, CodecStreamHeader* header, uint32_t flags) {
  return ConvertMp3Stream(Own(stream), *header, flags);
}

const char* LastError(CodecDriverStream* stream) { return Own(stream).lastError.c_str(); }

void CloseStream(CodecDriverStream* stream) { delete &Own(stream); }

const CodecDriver kMp3Driver = {
    UNPAK_CODEC_DRIVER_ABI, "MPEG Layer-3 decoder (libmpg123)",
    SuggestPcmFormat,       OpenStream,
    StreamSize,             Convert,
    LastError,              CloseStream,
};

}  // namespace

const CodecDriver* Mp3Driver() { return &kMp3Driver; }
