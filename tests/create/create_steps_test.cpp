// The steps of `pak create` whose faults an end-to-end run would show only
// as a refused input or a different archive: the walk over an input's
// chunks, the target format taken from its "fmt " chunk, and the plan of
// its entry.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/pak_writer.h"
#include "create/target_format.h"
#include "create/wave_chunks.h"
#include "create/wave_entry.h"
#include "platform/byte_order.h"
#include "platform/wave_format.h"
#include "tests/codec/codec_test_support.h"
#include "tests/support/wave_bytes.h"

namespace unpak {

namespace {

using Bytes = std::vector<uint8_t>;

// A plain PCM "fmt " chunk's 16 bytes.
Bytes PcmFmt(uint16_t channels, uint32_t rate, uint16_t bits) {
  FormatBlock block = MakePcmFormat(channels, rate, bits);
  block.resize(16);
  return block;
}

// A WAVE_FORMAT_EXTENSIBLE "fmt " chunk whose subformat starts with `tag`.
Bytes ExtensibleFmt(uint16_t tag, uint16_t bits) {
  Bytes block = MakeFormatBlock(
      {kWaveFormatExtensible, 2, 48000, 48000u * 2 * bits / 8, uint16_t(2 * bits / 8), bits, 22});
  const Bytes tail = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  StoreLe16(&block[18], bits);  // wValidBitsPerSample
  StoreLe16(&block[24], tag);
  std::copy(tail.begin(), tail.end(), block.begin() + 26);
  return block;
}

TEST(WaveChunks, EveryChunkKeepsItsPlaceOrTheFileIsRefusedWithTheReason) {
  const Bytes fmt = PcmFmt(1, 8000, 16);
  const RiffChunk odd{"odd ", {1, 2, 3}};  // padded to 4 in the file
  const Bytes whole = BuildRiffWave({{"fmt ", fmt}, odd, {"data", {9, 9, 9, 9, 9}}, {"tail", {7}}});
  Bytes unsized = whole;
  StoreLe32(&unsized[4], 0);  // a writer that could not seek back: the form runs to the end
  Bytes cutData = BuildRiffWave({{"fmt ", fmt}, {"data", Bytes(100)}});
  cutData.resize(cutData.size() - 40);
  Bytes cutChunk = BuildRiffWave({{"fmt ", fmt}, {"big ", Bytes(100)}, {"data", {}}});
  StoreLe32(&cutChunk[4], uint32_t(cutChunk.size() + 100));
  StoreLe32(&cutChunk[12 + 8 + 16 + 4], 200);
  const struct {
    const char* what;
    Bytes file;
    const char* reason;  // empty: the walk succeeds
    size_t before = 0, after = 0;
    uint32_t dataLength = 0;
  } cases[] = {
      {"odd chunk, data and a tail", whole, "", 1, 1, 5},
      {"form size 0", unsized, "", 1, 1, 5},
      {"data cut short", cutData, "", 0, 0, 60},
      {"chunk past the end", cutChunk, "its \"big \" chunk runs past the end of the file"},
      {"no RIFF", Text("RIFX0000WAVEfmt "), "not a WAV file"},
      {"no fmt", BuildRiffWave({{"data", {}}}), "it has no \"fmt \" chunk"},
      {"no data", BuildRiffWave({{"fmt ", fmt}}), "it has no \"data\" chunk"},
      {"two data", BuildRiffWave({{"fmt ", fmt}, {"data", {}}, {"data", {}}}),
       "it has more than one \"data\" chunk"},
      {"two fmt", BuildRiffWave({{"fmt ", fmt}, {"fmt ", fmt}, {"data", {}}}),
       "it has more than one \"fmt \" chunk"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WaveChunks chunks;
    std::string reason;
    const bool ok = ReadWaveChunks(c.file.data(), c.file.size(), &chunks, &reason);
    if (*c.reason != '\0') {
      EXPECT_FALSE(ok);
      EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
      continue;
    }
    ASSERT_TRUE(ok) << reason;
    EXPECT_EQ(chunks.format, fmt);
    EXPECT_EQ(chunks.before.size(), c.before);
    EXPECT_EQ(chunks.after.size(), c.after);
    EXPECT_EQ(chunks.dataLength, c.dataLength);
    EXPECT_EQ(LoadLe32(&c.file[chunks.dataOffset - 4]), c.file == cutData ? 100 : c.dataLength);
    if (c.before == 1) {
      EXPECT_EQ(chunks.before[0].data, odd.data);
    }
  }
}

TEST(TargetFormat, IsTheInputsOwnBlockInItsPlainFormOrRefused) {
  Bytes ima = MakeFormatBlock({kWaveFormatImaAdpcm, 1, 22050, 11100, 512, 4, 2});
  StoreLe16(&ima[18], 1017);
  Bytes pcmWithExtra = MakeFormatBlock({kWaveFormatPcm, 2, 44100, 176400, 4, 16, 4});
  const struct {
    const char* what;
    Bytes fmt;
    Bytes target;        // expected when `reason` is empty
    const char* reason;  // the start of the refusal
  } cases[] = {
      {"PCM", PcmFmt(2, 44100, 16), MakePcmFormat(2, 44100, 16), ""},
      {"PCM with extra bytes", pcmWithExtra, MakePcmFormat(2, 44100, 16), ""},
      {"IMA ADPCM", ima, ima, ""},
      {"extensible PCM", ExtensibleFmt(kWaveFormatPcm, 24), MakePcmFormat(2, 48000, 24), ""},
      {"extensible float", ExtensibleFmt(kWaveFormatIeeeFloat, 32),
       MakeFormatBlock({kWaveFormatIeeeFloat, 2, 48000, 384000, 8, 32, 0}), ""},
      {"extensible other",
       ExtensibleFmt(kWaveFormatAlaw, 8),
       {},
       "its WAVE_FORMAT_EXTENSIBLE subformat is neither PCM nor IEEE float"},
      {"three channels", PcmFmt(3, 8000, 16), {}, "it has 3 channels"},
      {"MS ADPCM",
       MakeFormatBlock({2, 1, 8000, 4096, 256, 4, 32}),
       {},
       "its format (tag 0x0002) has a block of 50 bytes, more than the archive's 22-byte"},
      {"short", Bytes(14, 1), {}, "its \"fmt \" chunk holds only 14 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FormatBlock target;
    std::string reason;
    const bool ok = ChooseTargetFormat(c.fmt, &target, &reason);
    if (*c.reason != '\0') {
      EXPECT_FALSE(ok);
      EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
    } else {
      EXPECT_TRUE(ok) << reason;
      EXPECT_EQ(target, c.target);
    }
  }
}

using WaveEntryPlanning = CodecModuleTest;

TEST_F(WaveEntryPlanning, ChoosesTheMpegStreamAndTheOutputUnpakWritesBack) {
  const struct {
    uint32_t rate;
    uint32_t kbps;     // asked for; 0 for the default
    uint32_t mp3Rate;  // expected when `reason` is empty
    uint32_t mp3Kbps;
    const char* reason;  // the start of the refusal
  } cases[] = {
      {44100, 0, 44100, 128, ""},
      {11000, 0, 8000, 64, ""},  // no MPEG rate: the one below
      {32000, 320, 32000, 320, ""},
      {22050, 320, 0, 0, "320 kbps is not a bit rate of MPEG audio at 22050 Hz (8 to 160 kbps)"},
      {7999, 0, 0, 0, "its rate of 7999 Hz is below the lowest MPEG rate"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    const Bytes file = BuildRiffWave(
        {{"fmt ", PcmFmt(1, c.rate, 16)}, {"LIST", Text("info")}, {"data", Bytes(c.rate / 5)}});
    CodecDelays delays;
    WaveEntryPlan plan;
    std::string reason;
    const bool ok = PlanWaveEntry(file.data(), file.size(), {c.kbps, 9}, &delays, &plan, &reason);
    if (*c.reason != '\0') {
      EXPECT_FALSE(ok);
      EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
      continue;
    }
    ASSERT_TRUE(ok) << reason;
    EXPECT_EQ(plan.mp3.rate, c.mp3Rate);
    EXPECT_EQ(plan.mp3.kbps, c.mp3Kbps);
    EXPECT_EQ(plan.target, MakePcmFormat(1, c.rate, 16));
    ASSERT_EQ(plan.parts.kept.size(), 1u);
    EXPECT_EQ(plan.parts.kept[0].id, "LIST");
    EXPECT_EQ(plan.length.audioLength, c.rate / 5);
    // unpak writes the same file back: a 16-byte "fmt " chunk, "LIST", "data".
    EXPECT_EQ(plan.outputSize, file.size());
  }
}

}  // namespace

}  // namespace unpak
