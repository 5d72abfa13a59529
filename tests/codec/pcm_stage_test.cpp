#include "codec/pcm_stage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tools/synth.h"

namespace {

PcmStagePtr MustCreate(uint32_t inputRate, uint16_t inputChannels, const PcmLayout& output) {
  std::string reason;
  PcmStagePtr stage = CreatePcmStage(inputRate, inputChannels, output, &reason);
  EXPECT_TRUE(stage) << reason;
  return stage;
}

// Runs all of `input` through a new stage in calls of `slice` frames, then ends it.
std::vector<uint8_t> Convert(uint32_t inputRate, uint16_t inputChannels, const PcmLayout& output,
                             const std::vector<int16_t>& input, size_t slice) {
  PcmStagePtr stage = MustCreate(inputRate, inputChannels, output);
  std::vector<uint8_t> converted;
  if (!stage) return converted;
  std::string reason;
  const size_t frames = input.size() / inputChannels;
  for (size_t at = 0; at < frames; at += slice) {
    const size_t count = std::min(slice, frames - at);
    EXPECT_TRUE(PcmStageProcess(*stage, input.data() + at * inputChannels, count, false,
                                &converted, &reason))
        << reason;
  }
  EXPECT_TRUE(PcmStageProcess(*stage, nullptr, 0, true, &converted, &reason)) << reason;
  return converted;
}

std::vector<int16_t> AsSamples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

struct Case {
  uint32_t inputRate;
  uint16_t inputChannels;
  PcmLayout output;
};

TEST(PcmStage, OutputDoesNotDependOnHowTheInputIsCut) {
  const Case cases[] = {{44100, 2, {22050, 2, 16}},
                        {22050, 1, {44100, 1, 16}},
                        {8000, 1, {96000, 2, 24}},
                        {48000, 2, {11025, 1, 8}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.inputRate << " -> " << c.output.rate);
    const std::vector<int16_t> input =
        SynthesizeMusic(c.inputChannels, int(c.inputRate), int(c.inputRate / 2), 3);
    const std::vector<uint8_t> whole = Convert(c.inputRate, c.inputChannels, c.output, input,
                                               input.size());
    ASSERT_FALSE(whole.empty());
    for (size_t slice : {1u, 7u, 4096u}) {
      EXPECT_EQ(Convert(c.inputRate, c.inputChannels, c.output, input, slice), whole)
          << "slices of " << slice;
    }
  }
}

TEST(PcmStage, LengthAfterTheEndIsTheInputLengthTimesTheRatioRounded) {
  struct Length {
    Case c;
    size_t frames;
    size_t expected;
  };
  const Length lengths[] = {
      {{44100, 2, {22050, 2, 16}}, 132300, 66150},
      {{44100, 2, {22050, 2, 16}}, 12345, 6173},   // 6172.5 rounds up
      {{44100, 1, {48000, 1, 16}}, 12345, 13437},  // 13436.73
      {{22050, 2, {44100, 1, 16}}, 10001, 20002},
      {{8000, 1, {96000, 2, 16}}, 4321, 51852},
      {{48000, 1, {11025, 2, 16}}, 12345, 2835},   // 2835.49
      {{96000, 2, {8000, 2, 16}}, 1, 0},
      {{44100, 1, {44100, 2, 16}}, 777, 777},
  };
  for (const Length& l : lengths) {
    SCOPED_TRACE(testing::Message() << l.c.inputRate << " -> " << l.c.output.rate << ", "
                                    << l.frames << " frames");
    const std::vector<int16_t> input =
        SynthesizeMusic(l.c.inputChannels, int(l.c.inputRate), int(l.frames), 5);
    const std::vector<uint8_t> out = Convert(l.c.inputRate, l.c.inputChannels, l.c.output,
                                             input, 1000);
    EXPECT_EQ(out.size(), l.expected * l.c.output.channels * 2);
  }
}

// A low tone resampled must match the same tone computed at the output rate:
// a lag of one sample would put it off by hundreds.
TEST(PcmStage, ResamplingAddsNoDelay) {
  const double frequency = 300;
  const double amplitude = 10000;
  for (auto [from, to] : {std::pair{44100, 48000}, {22050, 44100}, {44100, 22050}, {8000, 96000}}) {
    SCOPED_TRACE(testing::Message() << from << " -> " << to);
    std::vector<int16_t> tone(from);
    for (size_t i = 0; i < tone.size(); ++i) {
      tone[i] = int16_t(std::lround(amplitude * std::sin(2 * M_PI * frequency * i / from)));
    }
    const std::vector<int16_t> out =
        AsSamples(Convert(from, 1, {uint32_t(to), 1, 16}, tone, 1024));
    ASSERT_EQ(out.size(), size_t(to));
    int worst = 0;
    for (size_t k = to / 10; k < out.size() - to / 10; ++k) {
      const double expected = amplitude * std::sin(2 * M_PI * frequency * k / to);
      worst = std::max(worst, int(std::abs(out[k] - expected)));
    }
    EXPECT_LE(worst, 3);
  }
}

TEST(PcmStage, ChannelAndWidthRulesAreExact) {
  // Every 16-bit value at the same rate, mono.
  std::vector<int16_t> ramp(65536);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = int16_t(int(i) - 32768);
  const std::vector<uint8_t> eight = Convert(22050, 1, {22050, 1, 8}, ramp, 999);
  const std::vector<uint8_t> twentyFour = Convert(22050, 1, {22050, 1, 24}, ramp, 999);
  const std::vector<uint8_t> thirtyTwo = Convert(22050, 1, {22050, 1, 32}, ramp, 999);
  ASSERT_EQ(eight.size(), ramp.size());
  ASSERT_EQ(twentyFour.size(), ramp.size() * 3);
  ASSERT_EQ(thirtyTwo.size(), ramp.size() * 4);
  for (size_t i = 0; i < ramp.size(); ++i) {
    const int s = ramp[i];
    ASSERT_EQ(eight[i], uint8_t((s >> 8) + 128)) << s;
    const uint32_t s24 = uint32_t(s * 256);
    ASSERT_EQ(0, std::memcmp(&twentyFour[3 * i], &s24, 3)) << s;  // little-endian host
    const uint32_t s32 = uint32_t(s) << 16;
    ASSERT_EQ(0, std::memcmp(&thirtyTwo[4 * i], &s32, 4)) << s;
  }

  // Stereo to mono is the floor of the mean; mono to stereo duplicates.
  const std::vector<int16_t> pairs = {-1, 0, 1, 0, 32767, 32767, -32768, -32768, -32768, 32767,
                                      -3, -4};
  EXPECT_EQ(AsSamples(Convert(16000, 2, {16000, 1, 16}, pairs, 2)),
            (std::vector<int16_t>{-1, 0, 32767, -32768, -1, -4}));
  EXPECT_EQ(AsSamples(Convert(16000, 1, {16000, 2, 16}, {5, -7}, 1)),
            (std::vector<int16_t>{5, 5, -7, -7}));

  // Nothing to change: the input comes back as it was.
  const std::vector<int16_t> music = SynthesizeMusic(2, 32000, 5000, 9);
  PcmStagePtr identity = MustCreate(32000, 2, {32000, 2, 16});
  ASSERT_TRUE(identity);
  EXPECT_TRUE(PcmStageIsIdentity(*identity));
  EXPECT_FALSE(PcmStageIsIdentity(*MustCreate(32000, 2, {32000, 2, 8})));
  EXPECT_FALSE(PcmStageIsIdentity(*MustCreate(32000, 2, {32000, 1, 16})));
  EXPECT_FALSE(PcmStageIsIdentity(*MustCreate(32000, 2, {32001, 2, 16})));
  EXPECT_EQ(AsSamples(Convert(32000, 2, {32000, 2, 16}, music, 100)), music);
}

TEST(PcmStage, MaxOutputBoundsEveryCallFromAnyState) {
  const Case cases[] = {{44100, 2, {22050, 2, 16}},
                        {11025, 1, {96000, 2, 32}},
                        {96000, 2, {8000, 1, 8}},
                        {32000, 1, {44100, 1, 24}},
                        {24000, 2, {24000, 1, 8}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.inputRate << " -> " << c.output.rate);
    const std::vector<int16_t> input =
        SynthesizeMusic(c.inputChannels, int(c.inputRate), 40000, 11);
    const size_t frames = input.size() / c.inputChannels;
    PcmStagePtr stage = MustCreate(c.inputRate, c.inputChannels, c.output);
    ASSERT_TRUE(stage);
    PcmStagePtr fresh = MustCreate(c.inputRate, c.inputChannels, c.output);
    const uint64_t frameBytes = c.output.channels * c.output.bits / 8u;
    std::vector<uint8_t> out;
    std::string reason;
    size_t at = 0;
    for (size_t slice : {1u, 5000u, 3u, 1152u, 20000u, 7u, 4096u}) {
      ASSERT_LE(at + slice, frames);
      // Whatever came before, the next call (and with it the end) stays in bounds.
      PcmStagePtr probe = MustCreate(c.inputRate, c.inputChannels, c.output);
      std::vector<uint8_t> prefix;
      ASSERT_TRUE(PcmStageProcess(*probe, input.data(), at, false, &prefix, &reason));
      const uint64_t bound = PcmStageMaxOutputBytes(*probe, slice);
      std::vector<uint8_t> next;
      ASSERT_TRUE(PcmStageProcess(*probe, input.data() + at * c.inputChannels, slice, true,
                                  &next, &reason));
      EXPECT_LE(next.size(), bound) << "after " << at << " frames, " << slice << " more";
      // A buffer sized once, for a fresh stage, holds any later call too.
      EXPECT_LE(next.size(), PcmStageMaxOutputBytes(*fresh, slice));
      EXPECT_EQ(next.size() % frameBytes, 0u);

      const size_t before = out.size();
      const uint64_t running = PcmStageMaxOutputBytes(*stage, slice);
      ASSERT_TRUE(PcmStageProcess(*stage, input.data() + at * c.inputChannels, slice, false,
                                  &out, &reason));
      EXPECT_LE(out.size() - before, running);
      at += slice;
    }
  }
}

TEST(PcmStage, RefusesLayoutsOutsideItsRangeAndInputAfterTheEnd) {
  std::string reason;
  EXPECT_FALSE(CreatePcmStage(7999, 1, {44100, 1, 16}, &reason));
  EXPECT_EQ(reason, "PCM rate 7999 Hz is outside 8000 to 96000 Hz");
  EXPECT_FALSE(CreatePcmStage(44100, 1, {96001, 1, 16}, &reason));
  EXPECT_EQ(reason, "PCM rate 96001 Hz is outside 8000 to 96000 Hz");
  EXPECT_FALSE(CreatePcmStage(44100, 3, {44100, 1, 16}, &reason));
  EXPECT_EQ(reason, "PCM with 3 channels; only 1 or 2 are supported");
  EXPECT_FALSE(CreatePcmStage(44100, 2, {44100, 0, 16}, &reason));
  EXPECT_FALSE(CreatePcmStage(44100, 2, {44100, 2, 12}, &reason));
  EXPECT_EQ(reason, "PCM with 12 bits per sample; only 8, 16, 24 and 32 are supported");

  PcmStagePtr stage = MustCreate(44100, 2, {48000, 2, 16});
  ASSERT_TRUE(stage);
  const std::vector<int16_t> input = SynthesizeMusic(2, 44100, 100, 1);
  std::vector<uint8_t> out;
  ASSERT_TRUE(PcmStageProcess(*stage, input.data(), 100, true, &out, &reason));
  EXPECT_EQ(out.size(), 109u * 4);  // 108.84
  EXPECT_TRUE(PcmStageProcess(*stage, nullptr, 0, true, &out, &reason));
  EXPECT_EQ(out.size(), 109u * 4);
  EXPECT_FALSE(PcmStageProcess(*stage, input.data(), 100, false, &out, &reason));
  EXPECT_EQ(reason, "the PCM conversion has ended and takes no more input");
}

}  // namespace
