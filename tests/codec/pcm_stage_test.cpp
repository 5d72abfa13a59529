#include "codec/pcm_stage.h"

#include <gtest/gtest.h>

#include "tests/support/audio_reference.h"

namespace unpak {

namespace {

// `input` at 16000 Hz from `from` channels to `to`, in one call that ends the stage.
std::vector<uint8_t> Remixed(uint16_t from, uint16_t to, const std::vector<int16_t>& input) {
  std::string reason;
  PcmStagePtr stage = CreatePcmStage(16000, from, {16000, to, 16}, &reason);
  std::vector<uint8_t> out;
  EXPECT_TRUE(PcmStageProcess(*stage, input.data(), input.size() / from, true, &out, &reason));
  return out;
}

TEST(PcmStage, ChannelRulesAreExact) {
  // Stereo to mono is the floor of the mean; mono to stereo duplicates.
  EXPECT_EQ(Remixed(2, 1, {-1, 0, 1, 0, 32767, 32767, -32768, -32768, -32768, 32767, -3, -4}),
            PcmBytes({-1, 0, 32767, -32768, -1, -4}, 1, 1, 16));
  EXPECT_EQ(Remixed(1, 2, {5, -7}), PcmBytes({5, 5, -7, -7}, 1, 1, 16));
}

}  // namespace

}  // namespace unpak
