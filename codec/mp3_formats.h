#pragma once

// Which MPEG Layer-3 sources and PCM targets the MP3 driver accepts.

#include <cstdint>
#include <string>

#include "platform/codec_driver.h"
#include "platform/wave_format.h"

namespace unpak {

// Checks an MPEG Layer-3 source format block. kCodecOk, or kCodecNotPossible
// with a reason.
int32_t CheckDecoderSource(const uint8_t* block, uint32_t size, WaveFormat* format,
                           std::string* reason);

// Checks a PCM target: 8, 16, 24 or 32 bits, 1 or 2 channels, 8000 to
// 96000 Hz, nBlockAlign matching. kCodecOk, or kCodecNotPossible with a reason.
int32_t CheckPcmTarget(const uint8_t* block, uint32_t size, WaveFormat* format,
                       std::string* reason);

// Completes `suggested` with 16-bit PCM at the source's rate and channels.
int32_t SuggestPcmFormat(const uint8_t* source, uint32_t sourceSize, uint8_t* suggested,
                         uint32_t suggestedSize);

}  // namespace unpak
