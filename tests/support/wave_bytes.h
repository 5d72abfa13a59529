#pragma once

// Output files as they must stand, byte by byte, worked out without the
// program's own RIFF code.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/wave_format.h"

std::vector<uint8_t> Text(const std::string& text);
void AppendBytes(std::vector<uint8_t>* out, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> Le32(uint32_t value);

// A chunk as it stands in a RIFF file: id, length, data, pad byte if odd.
std::vector<uint8_t> ChunkBytes(const std::string& id, const std::vector<uint8_t>& data);

// What an output's "fmt " chunk holds for this target: 16 bytes of a PCM
// block, 18 + cbSize of any other.
std::vector<uint8_t> FmtChunkData(const FormatBlock& target);

// The "data" chunk's contents, provided the file is exactly "RIFF" size
// "WAVE", a "fmt " chunk holding `fmt`, `between` verbatim, the "data"
// chunk (padded), `after` verbatim, and a final pad byte when the form's
// length is odd. Otherwise null, with what is wrong in `problem`.
std::optional<std::vector<uint8_t>> WaveAudio(const std::vector<uint8_t>& file,
                                              const std::vector<uint8_t>& fmt,
                                              const std::vector<uint8_t>& between,
                                              const std::vector<uint8_t>& after,
                                              std::string* problem);

// Signed sample values of little-endian PCM of 8 (stored with an offset of
// 128), 16, 24 or 32 bits.
std::vector<int32_t> PcmValues(const std::vector<uint8_t>& bytes, int bits);
