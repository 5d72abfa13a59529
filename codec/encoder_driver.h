#pragma once

#include "platform/codec_driver.h"

namespace unpak {

// The driver table for 16-bit PCM to IMA ADPCM, G.711 mu-law and A-law, IEEE
// float and GSM 6.10 encoding.
const CodecDriver* EncoderDriver();

}  // namespace unpak
