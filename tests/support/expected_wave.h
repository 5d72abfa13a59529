#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Expected output files, assembled byte by byte without the archive writer.

// A chunk as it stands in a RIFF file: id, length, data, pad byte if odd.
std::vector<uint8_t> ChunkBytes(const std::string& id, const std::vector<uint8_t>& data);

// The 16 bytes of a PCM "fmt " chunk's data.
std::vector<uint8_t> PcmFmtBytes(int channels, int rate, int bits);

// "RIFF" size "WAVE", the "fmt " chunk, `between` verbatim, the "data"
// chunk holding `audio` (padded), `after` verbatim, and a final pad byte when
// the form's length is odd.
std::vector<uint8_t> ExpectedWave(const std::vector<uint8_t>& fmt,
                                  const std::vector<uint8_t>& between,
                                  const std::vector<uint8_t>& audio,
                                  const std::vector<uint8_t>& after);

void AppendBytes(std::vector<uint8_t>* out, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> Le32(uint32_t value);
