#pragma once

// Converts interleaved 16-bit PCM to another sample rate, channel count and
// sample width. Rate changes go through libsoxr (high quality, no dither), so
// the result does not depend on how the input is cut into calls and its
// length is exact once the stage has been ended.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace unpak {

// The sample rates the stage converts between.
constexpr uint32_t kLowestPcmRate = 8000;
constexpr uint32_t kHighestPcmRate = 96000;

struct PcmLayout {
  uint32_t rate = 0;      // kLowestPcmRate to kHighestPcmRate
  uint16_t channels = 0;  // 1 or 2
  uint16_t bits = 16;     // 8 (unsigned), 16, 24 or 32 (signed integer)
};

struct PcmStage;
struct PcmStageDeleter {
  void operator()(PcmStage* stage) const;
};
using PcmStagePtr = std::unique_ptr<PcmStage, PcmStageDeleter>;

// Input is 16-bit at `inputRate` with `inputChannels`; both layouts lie within
// the ranges above, as the drivers' format checks make sure. Null, with the
// reason, when the resampler cannot be created.
PcmStagePtr CreatePcmStage(uint32_t inputRate, uint16_t inputChannels, const PcmLayout& output,
                           std::string* reason);

// Converts `frames` input frames and appends the result to `output`. With
// `end`, also puts out what the resampler holds back; the stage takes no
// input afterwards. False, with the reason, on a resampler failure.
bool PcmStageProcess(PcmStage& stage, const int16_t* input, size_t frames, bool end,
                     std::vector<uint8_t>* output, std::string* reason);

// Most output bytes that `frames` more input frames can yield, counting what
// the resampler holds back and would put out at the end.
uint64_t PcmStageMaxOutputBytes(const PcmStage& stage, uint64_t frames);

}  // namespace unpak
