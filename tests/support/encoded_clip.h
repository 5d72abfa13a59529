#pragma once

#include <cstdint>
#include <vector>

#include "archive/pak_writer.h"
#include "tools/mp3_encoder.h"

// Synthesized audio and its CBR MP3 encoding (bare frames, no info tag).
struct EncodedClip {
  int channels = 0;
  int rate = 0;
  int bitrateKbps = 0;
  std::vector<int16_t> samples;  // interleaved, the encoder's input
  Mp3Stream mp3;
};

EncodedClip MakeEncodedClip(int channels, int rate, int frames, uint32_t seed, int bitrateKbps);

// The clip's MPEG Layer-3 source format: nBlockSize the largest frame,
// nCodecDelay LAME's delay.
FormatBlock ClipSourceFormat(const EncodedClip& clip);
