#include <dlfcn.h>
#include <gsm.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/codec_service.h"
#include "tests/codec/ima_reference_decoder.h"
#include "tests/codec/mp3_test_support.h"
#include "tools/synth.h"

namespace {

class EncoderDriver : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(RegisterCodecModule()); }
};

FormatBlock ImaFormat(int channels, int rate, int blockAlign, int samplesPerBlock = 0) {
  WaveFormat format{0x11, static_cast<uint16_t>(channels), static_cast<uint32_t>(rate), 0,
                    static_cast<uint16_t>(blockAlign), 4, 2};
  FormatBlock block = MakeFormatBlock(format);
  const int formula = (blockAlign - 4 * channels) * 8 / (4 * channels) + 1;
  StoreLe16(block.data() + 18, static_cast<uint16_t>(samplesPerBlock ? samplesPerBlock : formula));
  return block;
}

FormatBlock SampleFormat(uint16_t tag, int channels, int rate, int bits) {
  FormatBlock block = PcmFormat(channels, rate, bits);
  StoreLe16(block.data(), tag);
  return block;
}

FormatBlock GsmFormat(int channels, int blockAlign = 65) {
  WaveFormat format{0x31, static_cast<uint16_t>(channels), 8000, 1625,
                    static_cast<uint16_t>(blockAlign), 0, 2};
  FormatBlock block = MakeFormatBlock(format);
  StoreLe16(block.data() + 18, 320);
  return block;
}

std::vector<uint8_t> AsBytes(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> bytes(samples.size() * 2);
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

uint32_t DestinationQuery(const FormatBlock& source, const FormatBlock& target, uint32_t bytes) {
  std::string reason;
  CodecStreamPtr stream = CodecStreamOpen(source, target, &reason);
  uint32_t answer = 0;
  EXPECT_TRUE(stream && CodecStreamSize(*stream, bytes, &answer, kStreamSizeDestination))
      << reason;
  return answer;
}

struct Encoding {
  std::vector<uint8_t> bytes;
  uint32_t sourceUsed = 0;
  uint32_t largestAnswer = 0;  // the largest kStreamSizeSource answer for a pass
  bool overran = false;        // a pass put out more than its size answer
};

// Presents `pcm` in passes of up to `pass` bytes with `flags` (unused bytes
// are presented again at the front of the next pass), writing into
// `destination` bytes at a time; with `end`, then asks with kConvertEnd and
// what is left until nothing more comes out.
Encoding Encode(const FormatBlock& source, const FormatBlock& target,
                const std::vector<uint8_t>& pcm, uint32_t pass, uint32_t destination,
                uint32_t flags = 0, bool end = true) {
  Encoding result;
  std::string reason;
  CodecStreamPtr stream = CodecStreamOpen(source, target, &reason);
  EXPECT_TRUE(stream) << reason;
  if (!stream) return result;
  std::vector<uint8_t> in(pass), out(destination);
  CodecStreamHeader header{sizeof header, 0, in.data(), pass, 0, out.data(), destination, 0};
  EXPECT_TRUE(CodecStreamPrepareHeader(*stream, header));
  uint32_t carried = 0;
  auto convert = [&](uint32_t count, uint32_t convertFlags) {
    uint32_t bound = 0;
    EXPECT_TRUE(CodecStreamSize(*stream, count, &bound, kStreamSizeSource));
    result.largestAnswer = std::max(result.largestAnswer, bound);
    header.cbSrcLength = count;
    EXPECT_TRUE(CodecStreamConvert(*stream, header, convertFlags)) << CodecStreamError(*stream);
    result.overran |= header.cbDstLengthUsed > bound;
    result.sourceUsed += header.cbSrcLengthUsed;
    result.bytes.insert(result.bytes.end(), out.begin(), out.begin() + header.cbDstLengthUsed);
    carried = count - header.cbSrcLengthUsed;
    std::memmove(in.data(), in.data() + header.cbSrcLengthUsed, carried);
    return header.cbDstLengthUsed;
  };
  for (size_t next = 0; next < pcm.size();) {
    const size_t count = std::min<size_t>(pass - carried, pcm.size() - next);
    std::memcpy(in.data() + carried, pcm.data() + next, count);
    next += count;
    convert(carried + static_cast<uint32_t>(count), flags);
  }
  while (end && (convert(carried, kConvertEnd) != 0 || carried != 0)) {
  }
  CodecStreamUnprepareHeader(*stream, header);
  return result;
}

double SnrDb(const std::vector<int16_t>& original, const std::vector<int16_t>& decoded) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < original.size(); ++i) {
    signal += double(original[i]) * original[i];
    noise += (double(original[i]) - decoded[i]) * (double(original[i]) - decoded[i]);
  }
  return 10 * std::log10(signal / std::max(noise, 1.0));
}

std::string OpenFailure(const FormatBlock& source, const FormatBlock& target) {
  std::string reason;
  EXPECT_FALSE(CodecStreamOpen(source, target, &reason));
  return reason;
}

TEST_F(EncoderDriver, G711CodesAtTheSegmentBoundaries) {
  // Samples on both sides of each segment edge, with the G.711 character
  // codes of the truncated (14-bit mu-law, 13-bit A-law) magnitudes.
  const std::vector<std::pair<int16_t, uint8_t>> mulaw = {
      {0, 0xFF},      {4, 0xFE},      {123, 0xF0},    {124, 0xEF},    {379, 0xE0},
      {380, 0xDF},    {891, 0xD0},    {892, 0xCF},    {1915, 0xC0},   {1916, 0xBF},
      {3963, 0xB0},   {3964, 0xAF},   {8059, 0xA0},   {8060, 0x9F},   {16251, 0x90},
      {16252, 0x8F},  {31611, 0x81},  {31612, 0x80},  {32767, 0x80},  {-1, 0x7E},
      {-120, 0x70},   {-121, 0x6F},   {-32768, 0x00}};
  const std::vector<std::pair<int16_t, uint8_t>> alaw = {
      {0, 0xD5},      {15, 0xD5},     {16, 0xD4},     {255, 0xDA},    {256, 0xC5},
      {511, 0xCA},    {512, 0xF5},    {1023, 0xFA},   {1024, 0xE5},   {2047, 0xEA},
      {2048, 0x95},   {4095, 0x9A},   {4096, 0x85},   {8191, 0x8A},   {8192, 0xB5},
      {16383, 0xBA},  {16384, 0xA5},  {32767, 0xAA},  {-1, 0x55},     {-9, 0x55},
      {-17, 0x54},    {-256, 0x5A},   {-257, 0x45},   {-32768, 0x2A}};
  for (const auto& [tag, table] : {std::pair{uint16_t{7}, mulaw}, std::pair{uint16_t{6}, alaw}}) {
    std::vector<int16_t> samples;
    std::vector<uint8_t> expected;
    for (const auto& [sample, code] : table) {
      samples.push_back(sample);
      expected.push_back(code);
    }
    const Encoding encoding =
        Encode(PcmFormat(1, 8000, 16), SampleFormat(tag, 1, 8000, 8), AsBytes(samples), 64, 64);
    EXPECT_EQ(encoding.bytes, expected) << "format tag " << tag;
  }
}

TEST_F(EncoderDriver, FloatIsSampleOver32768) {
  const std::vector<int16_t> samples = {0, 1, -1, 16384, -32768, 32767};
  const std::vector<uint32_t> bits = {0x00000000, 0x38000000, 0xB8000000,
                                      0x3F000000, 0xBF800000, 0x3F7FFE00};
  const Encoding encoding =
      Encode(PcmFormat(2, 48000, 16), SampleFormat(3, 2, 48000, 32), AsBytes(samples), 12, 7);
  ASSERT_EQ(encoding.bytes.size(), 24u);
  for (size_t i = 0; i < bits.size(); ++i) EXPECT_EQ(LoadLe32(&encoding.bytes[4 * i]), bits[i]);
}

TEST_F(EncoderDriver, ImaDestinationQueryIsExactInWholeBlocks) {
  EXPECT_EQ(DestinationQuery(PcmFormat(1, 11025, 16), ImaFormat(1, 11025, 256), 65536), 258560u);
  EXPECT_EQ(DestinationQuery(PcmFormat(1, 22050, 16), ImaFormat(1, 22050, 512), 65536), 260352u);
  EXPECT_EQ(DestinationQuery(PcmFormat(1, 44100, 16), ImaFormat(1, 44100, 1024), 65536), 261248u);
  EXPECT_EQ(DestinationQuery(PcmFormat(2, 44100, 16), ImaFormat(2, 44100, 2048), 65536), 261248u);
  EXPECT_EQ(DestinationQuery(PcmFormat(1, 11025, 16), ImaFormat(1, 11025, 256), 255), 0u);
}

TEST_F(EncoderDriver, ImaPassesMatchOneGoAndDecodeClose) {
  for (int channels : {1, 2}) {
    SCOPED_TRACE(testing::Message() << channels << " channels");
    const FormatBlock source = PcmFormat(channels, 44100, 16);
    const FormatBlock target = ImaFormat(channels, 44100, 1024 * channels);
    // Several passes, the last one ending inside a block.
    const std::vector<int16_t> samples = SynthesizeMusic(channels, 44100, 2041 * 70 + 500, 3);
    const std::vector<uint8_t> pcm = AsBytes(samples);
    const uint32_t pass = DestinationQuery(source, target, 65536);
    const Encoding passes = Encode(source, target, pcm, pass, 65536, 0, false);
    const Encoding oneGo = Encode(source, target, pcm, static_cast<uint32_t>(pcm.size()), 1 << 20);
    EXPECT_EQ(passes.bytes.size(), 71u * 1024 * channels);
    EXPECT_EQ(passes.bytes, oneGo.bytes);
    EXPECT_FALSE(passes.overran || oneGo.overran) << "output beyond the source-side answer";
    // A destination smaller than a block: everything comes out later.
    EXPECT_EQ(Encode(source, target, pcm, 2041 * 2 * channels * 3, 100).bytes, oneGo.bytes);

    const std::vector<int16_t> decoded = DecodeImaBlocks(passes.bytes, channels, 1024 * channels);
    ASSERT_GE(decoded.size(), samples.size());
    EXPECT_GT(SnrDb(samples, decoded), 30.0);
    // Each block begins with its first sample verbatim.
    for (size_t block = 0; block < 71; ++block) {
      EXPECT_EQ(decoded[block * 2041 * channels], samples[block * 2041 * channels]);
    }
  }
}

TEST_F(EncoderDriver, ImaStateCarriesOverBlocksAndCalls) {
  const FormatBlock source = PcmFormat(2, 22050, 16);
  const FormatBlock target = ImaFormat(2, 22050, 1024);
  const std::vector<uint8_t> pcm = AsBytes(SynthesizeMusic(2, 22050, 1017 * 6 + 100, 5));
  const Encoding oneGo = Encode(source, target, pcm, static_cast<uint32_t>(pcm.size()), 1 << 20);
  // Calls of one and a half blocks with kConvertBlockAlign take one block
  // each; the rest is presented again with the next call.
  const Encoding aligned = Encode(source, target, pcm, 1017 * 4 * 3 / 2, 1 << 16,
                                  kConvertBlockAlign, false);
  ASSERT_EQ(oneGo.bytes.size(), 7u * 1024);
  EXPECT_EQ(aligned.sourceUsed, 6u * 1017 * 4);
  EXPECT_EQ(aligned.bytes, std::vector<uint8_t>(oneGo.bytes.begin(), oneGo.bytes.end() - 1024));
  EXPECT_EQ(Encode(source, target, pcm, 1017 * 4 * 3 / 2, 1 << 16, kConvertBlockAlign).bytes,
            oneGo.bytes);
  // Each block's header step index is the one the block before ended with.
  std::vector<int> indexAfter;
  DecodeImaBlocks(oneGo.bytes, 2, 1024, &indexAfter);
  for (size_t block = 1; block < 6; ++block) {
    for (size_t c = 0; c < 2; ++c) {
      EXPECT_EQ(oneGo.bytes[block * 1024 + 4 * c + 2], indexAfter[(block - 1) * 2 + c]);
    }
  }
  EXPECT_NE(indexAfter[0], 0);
}

TEST_F(EncoderDriver, ImaPartBlockIsPaddedWithSilence) {
  const FormatBlock source = PcmFormat(1, 8000, 16);
  const FormatBlock target = ImaFormat(1, 8000, 256);
  std::vector<int16_t> samples = SynthesizeMusic(1, 8000, 505 + 200, 9);
  const Encoding part = Encode(source, target, AsBytes(samples), 1 << 16, 1 << 16, 0, false);
  samples.resize(505 * 2, 0);
  const Encoding padded = Encode(source, target, AsBytes(samples), 1 << 16, 1 << 16, 0, false);
  EXPECT_EQ(part.bytes.size(), 512u);
  EXPECT_EQ(part.bytes, padded.bytes);
}

TEST_F(EncoderDriver, ResampledImaGivesWholeBlocksAtTheEnd) {
  const FormatBlock source = PcmFormat(2, 44100, 16);
  const FormatBlock target = ImaFormat(1, 22050, 512);
  const std::vector<uint8_t> pcm = AsBytes(SynthesizeMusic(2, 44100, 132300, 2));
  const uint32_t pass = DestinationQuery(source, target, 65536);
  EXPECT_EQ(pass, 128u * 1017 * 2 * 4);
  const Encoding encoding = Encode(source, target, pcm, pass, 65536);
  // 66150 frames at 22050 Hz fill 65 blocks and part of a 66th.
  EXPECT_EQ(encoding.bytes.size(), 66u * 512);
  EXPECT_FALSE(encoding.overran);
}

TEST_F(EncoderDriver, GsmBlocksDecodeCloseToTheInput) {
  const std::vector<int16_t> samples = SynthesizeMusic(1, 8000, 320 * 50, 4);
  Encoding encoding =
      Encode(PcmFormat(1, 8000, 16), GsmFormat(1), AsBytes(samples), 320 * 2 * 3, 4096);
  ASSERT_EQ(encoding.bytes.size(), 50u * 65);
  std::unique_ptr<gsm_state, void (*)(gsm)> decoder(gsm_create(), gsm_destroy);
  int wav49 = 1;
  gsm_option(decoder.get(), GSM_OPT_WAV49, &wav49);
  std::vector<int16_t> decoded(samples.size());
  for (size_t block = 0; block < 50; ++block) {
    uint8_t* frame = encoding.bytes.data() + block * 65;
    ASSERT_EQ(gsm_decode(decoder.get(), frame, &decoded[block * 320]), 0);
    ASSERT_EQ(gsm_decode(decoder.get(), frame + 33, &decoded[block * 320 + 160]), 0);
  }
  EXPECT_GT(SnrDb(samples, decoded), 10.0);
}

TEST_F(EncoderDriver, RefusesWithReasons) {
  const FormatBlock pcm = PcmFormat(1, 44100, 16);
  EXPECT_EQ(OpenFailure(pcm, ImaFormat(1, 44100, 1001)),
            "IMA ADPCM target: nBlockAlign 1001 is not a multiple of 4 per channel (4)");
  EXPECT_NE(OpenFailure(pcm, ImaFormat(2, 44100, 1028)).find("multiple of 4 per channel (8)"),
            std::string::npos);
  EXPECT_NE(OpenFailure(pcm, ImaFormat(1, 44100, 1024, 2040)).find("wSamplesPerBlock 2040"),
            std::string::npos);
  EXPECT_NE(OpenFailure(pcm, GsmFormat(2)).find("GSM 6.10 is mono only"), std::string::npos);
  EXPECT_NE(OpenFailure(pcm, GsmFormat(1, 64)).find("GSM 6.10 target: nBlockAlign 64"),
            std::string::npos);
  EXPECT_NE(OpenFailure(pcm, SampleFormat(7, 1, 44100, 16)).find("G.711 mu-law"),
            std::string::npos);
  EXPECT_NE(OpenFailure(pcm, SampleFormat(3, 3, 44100, 32)).find("IEEE float target with 3"),
            std::string::npos);
  EXPECT_NE(OpenFailure(pcm, SampleFormat(6, 1, 7999, 8)).find("G.711 A-law target at 7999"),
            std::string::npos);
  EXPECT_EQ(OpenFailure(pcm, SampleFormat(2, 1, 44100, 4)), "no encoder for format tag 0x0002");
  EXPECT_NE(OpenFailure(PcmFormat(1, 44100, 8), SampleFormat(7, 1, 44100, 8)).find("8 bits"),
            std::string::npos);

  // A source that is not PCM is left to the other drivers without a word.
  void* module = dlopen(UNPAK_CODEC_MODULE, RTLD_NOW | RTLD_LOCAL);
  auto entry = reinterpret_cast<CodecDriverEntry>(dlsym(module, "DriverProc"));
  ASSERT_TRUE(entry && entry(1));
  const FormatBlock ima = ImaFormat(1, 44100, 1024);
  char reason[64] = "unset";
  CodecDriverStream* stream = nullptr;
  EXPECT_EQ(entry(1)->openStream(ima.data(), static_cast<uint32_t>(ima.size()), ima.data(),
                                 static_cast<uint32_t>(ima.size()), &stream, reason, sizeof reason),
            kCodecNotPossible);
  EXPECT_STREQ(reason, "");
  dlclose(module);
}

TEST_F(EncoderDriver, SuggestsAFormatThatOpens) {
  for (uint16_t tag : {0x11, 0x31, 6, 7, 3}) {
    FormatBlock suggested(20, 0);
    StoreLe16(suggested.data(), tag);
    const FormatBlock source = PcmFormat(2, 22050, 16);
    ASSERT_TRUE(CodecFormatSuggest(source, suggested)) << tag;
    suggested.resize(18 + LoadLe16(suggested.data() + 16));
    std::string reason;
    EXPECT_TRUE(CodecStreamOpen(source, suggested, &reason)) << reason;
  }
}

}  // namespace
