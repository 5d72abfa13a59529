#pragma once

// MP3 encoding with LAME, for making example and test archives.

#include <cstdint>
#include <vector>

// LAME puts this many frames of delay before the audio (encoder 576 +
// decoder 529): the nCodecDelay that lines decoded audio up with the input.
constexpr uint16_t kLameCodecDelay = 1105;

struct Mp3Stream {
  std::vector<uint8_t> bytes;  // bare frames: no ID3 tag, no Info/Xing frame
  uint16_t maxFrameSize = 0;   // the largest frame, for nBlockSize
};

// Constant-bitrate encoding of interleaved 16-bit samples.
Mp3Stream EncodeMp3(const std::vector<int16_t>& interleaved, int channels, int rate,
                    int bitrateKbps);
