#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace unpak {

// Wave format blocks as stored in RIFF files: an 18-byte header followed by
// cbSize bytes of format-specific data, all little-endian.

// Format tags.
constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint16_t kWaveFormatIeeeFloat = 3;
constexpr uint16_t kWaveFormatAlaw = 6;
constexpr uint16_t kWaveFormatMulaw = 7;
constexpr uint16_t kWaveFormatImaAdpcm = 0x11;
constexpr uint16_t kWaveFormatGsm610 = 0x31;
constexpr uint16_t kWaveFormatMpegLayer3 = 0x55;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

constexpr size_t kWaveFormatSize = 18;
constexpr size_t kMpegLayer3ExtraSize = 12;

struct WaveFormat {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;
};

// The fields that follow the header in an MPEG Layer-3 format block.
struct MpegLayer3Fields {
  uint16_t wID = 0;
  uint32_t fdwFlags = 0;
  uint16_t nBlockSize = 0;
  uint16_t nFramesPerBlock = 0;
  uint16_t nCodecDelay = 0;
};

// A whole format block, header and extra bytes.
using FormatBlock = std::vector<uint8_t>;

// `block` must hold at least kWaveFormatSize bytes.
WaveFormat ReadWaveFormat(const uint8_t* block);
void WriteWaveFormat(const WaveFormat& format, uint8_t* block);
FormatBlock MakeFormatBlock(const WaveFormat& format);

// False when the block is too short to hold the MPEG Layer-3 fields
// (fewer than 30 bytes, or a cbSize under 12).
bool ReadMpegLayer3Fields(const uint8_t* block, size_t size, MpegLayer3Fields* fields);

}  // namespace unpak
