#include "codec/encoder_driver.h"

#include <cstring>
#include <memory>
#include <string>

#include "codec/encoder_formats.h"
#include "codec/encoder_stream.h"
#include "platform/byte_order.h"

namespace {

void CopyReason(const std::string& text, char* reason, uint32_t reasonSize) {
  if (!reason || reasonSize == 0) return;
  const size_t length = text.size() < reasonSize - 1 ? text.size() : reasonSize - 1;
  std::memcpy(reason, text.data(), length);
  reason[length] = '\0';
}

// Completes an encoded format of the preset tag for the PCM source's rate and
// channels, when it fits into `suggested`.
int32_t SuggestFormat(const uint8_t* source, uint32_t sourceSize, uint8_t* suggested,
                      uint32_t suggestedSize) {
  WaveFormat pcm;
  std::string reason;
  FormatBlock block;
  if (!suggested || suggestedSize < kWaveFormatSize ||
      !CheckPcmSource(source, sourceSize, &pcm, &reason) ||
      !SuggestEncoderTarget(LoadLe16(suggested), pcm.nSamplesPerSec, pcm.nChannels, &block) ||
      block.size() > suggestedSize) {
    return kCodecNotPossible;
  }
  std::memcpy(suggested, block.data(), block.size());
  return kCodecOk;
}

int32_t OpenStream(const uint8_t* source, uint32_t sourceSize, const uint8_t* destination,
                   uint32_t destinationSize, CodecDriverStream** stream, char* reason,
                   uint32_t reasonSize) {
  std::unique_ptr<EncoderStream> opened;
  std::string why;
  const int32_t result =
      OpenEncoderStream(source, sourceSize, destination, destinationSize, &opened, &why);
  if (result != kCodecOk) {
    CopyReason(why, reason, reasonSize);
    return result;
  }
  *stream = reinterpret_cast<CodecDriverStream*>(opened.release());
  return kCodecOk;
}

// The service hands back the handle that OpenStream gave it.
EncoderStream& Own(CodecDriverStream* stream) { return *reinterpret_cast<EncoderStream*>(stream); }

int32_t StreamSize(CodecDriverStream* stream, uint32_t input, uint32_t* output, uint32_t flags) {
  return EncoderStreamSize(Own(stream), input, output, flags);
}

int32_t Convert(CodecDriverStream* stream, CodecStreamHeader* header, uint32_t flags) {
  return ConvertEncoderStream(Own(stream), *header, flags);
}

const char* LastError(CodecDriverStream* stream) { return Own(stream).lastError.c_str(); }

void CloseStream(CodecDriverStream* stream) { delete &Own(stream); }

const CodecDriver kEncoderDriver = {
    UNPAK_CODEC_DRIVER_ABI, "PCM encoder (IMA ADPCM, G.711, IEEE float, GSM 6.10)",
    SuggestFormat,          OpenStream,
    StreamSize,             Convert,
    LastError,              CloseStream,
};

}  // namespace

const CodecDriver* EncoderDriver() { return &kEncoderDriver; }
