#pragma once

// Bytes of RIFF files and PCM samples, worked out without the program's own
// RIFF code.

#include <cstdint>
#include <string>
#include <vector>

namespace unpak {

std::vector<uint8_t> Text(const std::string& text);
void AppendBytes(std::vector<uint8_t>* out, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> Le32(uint32_t value);

// A chunk as it stands in a RIFF file: id, length, data, pad byte if odd.
std::vector<uint8_t> ChunkBytes(const std::string& id, const std::vector<uint8_t>& data);

// Signed sample values of little-endian PCM of 8 (stored with an offset of
// 128), 16, 24 or 32 bits.
std::vector<int32_t> PcmValues(const std::vector<uint8_t>& bytes, int bits);

}  // namespace unpak
