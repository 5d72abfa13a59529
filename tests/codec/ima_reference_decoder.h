#pragma once

// The classic IMA ADPCM decoder for WAV blocks, to check encoded output.

#include <cstdint>
#include <vector>

// Decodes whole blocks of `blockAlign` bytes to interleaved samples. When
// `stepIndexAfter` is given it receives, per block and channel, the step
// index that decoding the block ends with.
std::vector<int16_t> DecodeImaBlocks(const std::vector<uint8_t>& blocks, int channels,
                                     int blockAlign, std::vector<int>* stepIndexAfter = nullptr);
