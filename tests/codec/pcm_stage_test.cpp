#include "codec/pcm_stage.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/support/audio_reference.h"
#include "tests/support/wave_bytes.h"
#include "tools/synth.h"

namespace {

struct Case {
  uint32_t inputRate;
  uint16_t inputChannels;
  PcmLayout output;
};

// Runs all of `input` through a new stage in calls of `slice` frames, then
// ends it. Each call's output, the end's tail included, must fit the bound
// that a fresh stage gives, so that a buffer sized once holds any call.
std::vector<uint8_t> Convert(const Case& c, const std::vector<int16_t>& input, size_t slice) {
  std::vector<uint8_t> out;
  std::string reason;
  auto create = [&] { return CreatePcmStage(c.inputRate, c.inputChannels, c.output, &reason); };
  PcmStagePtr stage = create(), fresh = create();
  EXPECT_TRUE(stage && fresh) << reason;
  const size_t frames = input.size() / c.inputChannels;
  size_t count = 1;
  for (size_t at = 0; stage && fresh && count > 0; at += count) {
    count = std::min(slice, frames - at);
    const size_t before = out.size();
    EXPECT_TRUE(PcmStageProcess(*stage, input.data() + at * c.inputChannels, count, count == 0,
                                &out, &reason))
        << reason;
    EXPECT_LE(out.size() - before, PcmStageMaxOutputBytes(*fresh, count))
        << "after " << at << " of " << frames << " frames";
  }
  return out;
}

TEST(PcmStage, OutputDoesNotDependOnHowTheInputIsCutAndEndsAtTheRoundedLength) {
  // Input frames, and the output frames once ended: input frames × ratio, rounded.
  const std::tuple<Case, size_t, size_t> cases[] = {
      {{44100, 2, {22050, 2, 16}}, 12345, 6173},   // 6172.5 rounds up
      {{44100, 1, {48000, 1, 16}}, 12345, 13437},  // 13436.73
      {{8000, 1, {96000, 2, 24}}, 4321, 51852},
      {{48000, 2, {11025, 1, 8}}, 12345, 2835},  // 2835.49
      {{96000, 2, {8000, 2, 16}}, 1, 0}};
  for (const auto& [c, frames, expected] : cases) {
    SCOPED_TRACE(testing::Message() << c.inputRate << " -> " << c.output.rate);
    const std::vector<int16_t> input =
        SynthesizeMusic(c.inputChannels, int(c.inputRate), int(frames), 3);
    const std::vector<uint8_t> whole = Convert(c, input, frames);
    EXPECT_EQ(whole.size(), expected * c.output.channels * c.output.bits / 8);
    for (size_t slice : {1u, 7u, 4096u}) EXPECT_EQ(Convert(c, input, slice), whole) << slice;
  }
}

TEST(PcmStage, ChannelRulesAreExact) {
  // Stereo to mono is the floor of the mean; mono to stereo duplicates.
  EXPECT_EQ(Convert({16000, 2, {16000, 1, 16}},
                    {-1, 0, 1, 0, 32767, 32767, -32768, -32768, -32768, 32767, -3, -4}, 2),
            PcmBytes({-1, 0, 32767, -32768, -1, -4}, 1, 1, 16));
  EXPECT_EQ(Convert({16000, 1, {16000, 2, 16}}, {5, -7}, 1), PcmBytes({5, 5, -7, -7}, 1, 1, 16));
}

}  // namespace
