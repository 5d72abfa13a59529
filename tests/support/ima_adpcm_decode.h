#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The classic IMA ADPCM decoder for WAV blocks (format tag 0x11): per
// channel a 4-byte header (first sample, step index, zero), then 4-byte
// groups of 8 nibbles, low nibble first, alternating channels. Decodes the
// whole blocks in `data` to interleaved 16-bit samples; a part block at the
// end is left out.
std::vector<int16_t> DecodeImaAdpcm(const std::vector<uint8_t>& data, int channels,
                                    size_t blockAlign);
