#pragma once

// Constant-bit-rate MP3 encoding with LAME: bare frames, with no Info/Xing
// frame in front and no ID3 tag.

#include <lame/lame.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "create/mpeg_settings.h"

namespace unpak {

struct LameCloser {
  void operator()(lame_global_flags* flags) const { lame_close(flags); }
};
using LamePtr = std::unique_ptr<lame_global_flags, LameCloser>;

// An encoder of interleaved audio at settings.rate (no resampling).
// Null, with the reason, when LAME refuses the settings.
LamePtr OpenMp3Encoder(const Mp3Settings& settings, std::string* reason);

// Encodes `frames` interleaved frames, full scale being 1 (beyond is clipped,
// anything not a number is silence), appending the frames LAME completes.
// The decoded audio has the input's level: LAME's own scaling is undone.
bool EncodeMp3(lame_global_flags& lame, const float* interleaved, size_t frames,
               std::vector<uint8_t>* mp3);

// Appends the rest: LAME's held frames and the end padding.
bool FinishMp3(lame_global_flags& lame, std::vector<uint8_t>* mp3);

}  // namespace unpak
