#include "codec/encoder_driver.h"

#include <cstring>
#include <string>

#include "codec/driver_table.h"
#include "codec/encoder_formats.h"
#include "codec/encoder_stream.h"
#include "platform/byte_order.h"

namespace {

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

using EncoderTable = DriverTable<EncoderStream, SuggestFormat, OpenEncoderStream, EncoderStreamSize,
                                 ConvertEncoderStream>;
constexpr CodecDriver kEncoderDriver =
    EncoderTable::Make("PCM encoder (IMA ADPCM, G.711, IEEE float, GSM 6.10)");

}  // namespace

const CodecDriver* EncoderDriver() { return &kEncoderDriver; }
