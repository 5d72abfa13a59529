#pragma once

// Which PCM sources and encoded targets the encoder driver accepts.

#include <cstdint>
#include <string>

#include "platform/wave_format.h"

namespace unpak {

// Samples per channel in an IMA ADPCM block of `blockAlign` bytes.
uint32_t ImaSamplesPerBlock(uint32_t blockAlign, uint32_t channels);

enum class EncoderKind { Mulaw, Alaw, Float, ImaAdpcm, Gsm610 };

struct EncoderTarget {
  EncoderKind kind = EncoderKind::Mulaw;
  WaveFormat format;
  // Sample frames per encoded block: 1 for the sample codecs.
  uint32_t samplesPerBlock = 1;
};

// True when `block` is 16-bit PCM, 1 or 2 channels, 8000 to 96000 Hz. A
// source of another tag is refused with no reason, since other drivers may
// take it; a PCM source of another shape gets one.
bool CheckPcmSource(const uint8_t* block, uint32_t size, WaveFormat* format, std::string* reason);

// True when `block` is a target that an encoder can produce, with all its
// fields consistent; otherwise false with a reason that names the format.
bool CheckEncoderTarget(const uint8_t* block, uint32_t size, EncoderTarget* target,
                        std::string* reason);

}  // namespace unpak
