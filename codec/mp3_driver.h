#pragma once

#include "platform/codec_driver.h"

namespace unpak {

// The driver table for MPEG Layer-3 to PCM decoding.
const CodecDriver* Mp3Driver();

}  // namespace unpak
