#include "codec/encoder_driver.h"

#include "codec/driver_table.h"
#include "codec/encoder_stream.h"

namespace unpak {

namespace {

// The encoders suggest nothing: only the decoder's PCM format is ever asked for.
int32_t SuggestFormat(const uint8_t*, uint32_t, uint8_t*, uint32_t) { return kCodecNotPossible; }

using EncoderTable = DriverTable<EncoderStream, SuggestFormat, OpenEncoderStream, EncoderStreamSize,
                                 ConvertEncoderStream>;
constexpr CodecDriver kEncoderDriver =
    EncoderTable::Make("PCM encoder (IMA ADPCM, G.711, IEEE float, GSM 6.10)");

}  // namespace

const CodecDriver* EncoderDriver() { return &kEncoderDriver; }

}  // namespace unpak
