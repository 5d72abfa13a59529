#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "archive/pak_writer.h"
#include "platform/byte_order.h"
#include "tests/codec/codec_test_support.h"
#include "tests/support/audio_reference.h"
#include "tools/synth.h"

namespace unpak {

namespace {

using EncoderDriver = CodecModuleTest;

// A target format; a nonzero `samplesPerBlock` goes into a 2-byte extra field.
FormatBlock Target(uint16_t tag, int channels, int rate, int bits, int blockAlign,
                   int samplesPerBlock = 0) {
  FormatBlock block =
      MakeFormatBlock({tag, uint16_t(channels), uint32_t(rate), 0, uint16_t(blockAlign),
                       uint16_t(bits), uint16_t(samplesPerBlock ? 2 : 0)});
  if (samplesPerBlock) StoreLe16(block.data() + kWaveFormatSize, uint16_t(samplesPerBlock));
  return block;
}

FormatBlock Ima(int channels, int rate, int blockAlign) {
  return Target(0x11, channels, rate, 4, blockAlign, (blockAlign / channels - 4) * 2 + 1);
}

TEST_F(EncoderDriver, SampleCodecsGiveTheExactCodes) {
  // G.711 samples on both sides of each segment edge, with the character
  // codes of the truncated (14-bit mu-law, 13-bit A-law) magnitudes.
  const std::tuple<uint16_t, std::vector<int16_t>, std::vector<uint8_t>> tables[] = {
      {7,
       {0,    4,    123,   124,   379,   380,   891,   892, 1915, 1916, 3963,  3964,
        8059, 8060, 16251, 16252, 31611, 31612, 32767, -1,  -120, -121, -32768},
       {0xFF, 0xFE, 0xF0, 0xEF, 0xE0, 0xDF, 0xD0, 0xCF, 0xC0, 0xBF, 0xB0, 0xAF,
        0xA0, 0x9F, 0x90, 0x8F, 0x81, 0x80, 0x80, 0x7E, 0x70, 0x6F, 0x00}},
      {6,
       {0,    15,   16,   255,   256,   511,   512, 1023, 1024, 2047, 2048, 4095,
        4096, 8191, 8192, 16383, 16384, 32767, -1,  -9,   -17,  -256, -257, -32768},
       {0xD5, 0xD5, 0xD4, 0xDA, 0xC5, 0xCA, 0xF5, 0xFA, 0xE5, 0xEA, 0x95, 0x9A,
        0x85, 0x8A, 0xB5, 0xBA, 0xA5, 0xAA, 0x55, 0x55, 0x54, 0x5A, 0x45, 0x2A}}};
  for (const auto& [tag, samples, codes] : tables) {
    // A 3-byte destination: what does not fit comes out of later calls.
    EXPECT_EQ(RunStream(MakePcmFormat(1, 8000, 16), Target(tag, 1, 8000, 8, 1),
                        PcmBytes(samples, 1, 1, 16), 64, 3)
                  .out,
              codes)
        << "format tag " << tag;
  }
}

TEST_F(EncoderDriver, ImaBlocksComeOutAlikeHoweverTheInputIsCut) {
  // The destination-side answer for 65536 bytes: the source of whole blocks.
  const std::tuple<int, int, int, uint32_t> queries[] = {
      {1, 11025, 256, 258560}, {1, 22050, 512, 260352}, {2, 44100, 2048, 261248}};
  for (const auto& [channels, rate, blockAlign, answer] : queries) {
    SCOPED_TRACE(testing::Message() << channels << " channels of " << blockAlign << "-byte blocks");
    const FormatBlock source = MakePcmFormat(channels, rate, 16);
    const FormatBlock target = Ima(channels, rate, blockAlign);
    const size_t blockInput = ((blockAlign / channels - 4) * 2 + 1) * 2 * channels;
    // Three passes and half a block.
    const std::vector<uint8_t> pcm = PcmBytes(
        SynthesizeMusic(channels, rate, 3 * answer / (2 * channels) + blockAlign / channels, 3), 1,
        1, 16);
    const StreamRun passes = RunStream(source, target, pcm, 0, 65536, 0, false);
    const std::vector<uint8_t> oneGo = RunStream(source, target, pcm, kLarge, kLarge).out;
    EXPECT_EQ(passes.pass, answer);
    EXPECT_EQ(RunStream(source, target, {}, 0, blockAlign - 1).pass, 0u) << "whole blocks only";
    EXPECT_EQ(oneGo.size(), (3 * 65536 / blockAlign + 1) * size_t(blockAlign));
    EXPECT_EQ(passes.out, oneGo);
    // Calls of one and a half blocks with kConvertBlockAlign take one block
    // each and leave the rest to be presented again; the end pads the last.
    EXPECT_EQ(
        RunStream(source, target, pcm, uint32_t(blockInput * 3 / 2), kLarge, kConvertBlockAlign)
            .out,
        oneGo);
    // Blocks after the first start from the step index reached, not from 0.
    for (size_t at = blockAlign; at < oneGo.size(); at += blockAlign) EXPECT_NE(oneGo[at + 2], 0);
    // Without the flag a call that ends inside a block fills it up with silence.
    std::vector<uint8_t> part(pcm.begin(), pcm.begin() + long(blockInput) + 800);
    const std::vector<uint8_t> padded =
        RunStream(source, target, part, kLarge, kLarge, 0, false).out;
    part.resize(2 * blockInput, 0);
    EXPECT_EQ(padded, RunStream(source, target, part, kLarge, kLarge, 0, false).out);
  }
}

TEST_F(EncoderDriver, RefusesWithReasonsNamingTheFormat) {
  const FormatBlock pcm = MakePcmFormat(1, 44100, 16);
  const std::tuple<FormatBlock, FormatBlock, std::string> refusals[] = {
      {pcm, Ima(2, 44100, 1028), "IMA ADPCM target: nBlockAlign 1028 is not a multiple of 4"},
      {pcm, Target(0x11, 1, 44100, 3, 256, 505), "IMA ADPCM target: wBitsPerSample 3 should be 4"},
      {pcm, Target(0x11, 1, 44100, 4, 256, 500), "wSamplesPerBlock 500 should be 505"},
      {pcm, Target(0x11, 1, 44100, 4, 256), "cbSize 0 in a block of 18 bytes leaves no wSamples"},
      {pcm, Target(0x31, 2, 8000, 0, 65, 320), "GSM 6.10 is mono only"},
      {pcm, Target(0x31, 1, 8000, 0, 64, 320), "nBlockAlign 64 and wSamplesPerBlock 320 should"},
      {pcm, Target(7, 1, 44100, 16, 2), "G.711 mu-law target: wBitsPerSample 16"},
      {pcm, Target(7, 1, 44100, 8, 2), "G.711 mu-law target: nBlockAlign 2 should be 1"},
      {pcm, Target(6, 1, 7999, 8, 1), "G.711 A-law target at 7999 Hz; only 8000 to 96000 Hz"},
      {pcm, Target(3, 3, 44100, 32, 12), "IEEE float target with 3 channels"},
      {pcm, FormatBlock(pcm.begin(), pcm.begin() + 16), "block of 16 bytes is shorter than 18"},
      {pcm, Target(2, 1, 44100, 4, 256), "no encoder for format tag 0x0002"},
      {MakePcmFormat(1, 44100, 8), Target(7, 1, 44100, 8, 1), "PCM source of 8 bits"}};
  for (const auto& [source, target, reason] : refusals) {
    EXPECT_THAT(RunStream(source, target, {}, 1, 1).error, testing::HasSubstr(reason));
  }
}

}  // namespace

}  // namespace unpak
