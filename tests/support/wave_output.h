#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The "data" chunk's contents of an output file, provided the file is
// exactly: the RIFF header, a "fmt " chunk holding `fmt`, `between`
// verbatim, the "data" chunk, `after` verbatim. Otherwise null, with what
// is wrong in `problem`.
std::optional<std::vector<uint8_t>> WaveAudio(const std::vector<uint8_t>& file,
                                              const std::vector<uint8_t>& fmt,
                                              const std::vector<uint8_t>& between,
                                              const std::vector<uint8_t>& after,
                                              std::string* problem);

// Signed integer samples of little-endian PCM of 8 (unsigned, stored with
// an offset of 128), 16, 24 or 32 bits.
std::vector<int32_t> PcmSampleValues(const std::vector<uint8_t>& bytes, int bits);
