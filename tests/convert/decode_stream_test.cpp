// The decode loop's arithmetic against a scripted codec: the delay cut, the
// length cap, the 8-bit rule, carried source bytes, passes without output and
// writes that fail; and the encode loop's writes that fail.

#include "convert/decode_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/pak_writer.h"
#include "convert/encode_stream.h"
#include "platform/codec_service.h"

namespace {

// One conversion call of the scripted codec: how many presented bytes it
// consumes (all when negative) and how many output bytes it produces.
struct Step {
  int consume;
  uint32_t produce;
};

struct Script {
  std::vector<Step> steps;
  size_t next = 0;
  std::vector<std::vector<uint8_t>> presented;
  std::vector<uint32_t> flags;
  uint8_t outputCounter = 0;  // output bytes count up, so cuts are visible
} script;

int32_t Suggest(const uint8_t*, uint32_t, uint8_t*, uint32_t) { return kCodecNotPossible; }
int32_t Open(const uint8_t*, uint32_t, const uint8_t*, uint32_t, CodecDriverStream** stream, char*,
             uint32_t) {
  *stream = reinterpret_cast<CodecDriverStream*>(&script);
  return kCodecOk;
}
int32_t Size(CodecDriverStream*, uint32_t, uint32_t* output, uint32_t) {
  *output = 4096;
  return kCodecOk;
}
int32_t Convert(CodecDriverStream*, CodecStreamHeader* header, uint32_t flags) {
  script.presented.emplace_back(header->pbSrc, header->pbSrc + header->cbSrcLength);
  script.flags.push_back(flags);
  const Step step = script.next < script.steps.size() ? script.steps[script.next++] : Step{-1, 0};
  header->cbSrcLengthUsed =
      step.consume < 0 ? header->cbSrcLength : static_cast<uint32_t>(step.consume);
  header->cbDstLengthUsed = step.produce;
  for (uint32_t i = 0; i < step.produce; ++i) header->pbDst[i] = script.outputCounter++;
  return kCodecOk;
}
const char* LastError(CodecDriverStream*) { return ""; }
void Close(CodecDriverStream*) {}

const CodecDriver kScriptedDriver = {
    UNPAK_CODEC_DRIVER_ABI, "scripted", Suggest, Open, Size, Convert, LastError, Close};
const CodecDriver* ScriptedEntry(uint32_t index) { return index == 0 ? &kScriptedDriver : nullptr; }

struct Result {
  bool ok = false;
  std::string reason;
  std::vector<uint8_t> output;
  std::string marks;
};

class DecodeStreamTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(CodecDriverAdd(ScriptedEntry)); }
  // Runs the loop over `compressed` with nBlockSize 10 (passes of 320 bytes).
  Result Decode(const std::vector<Step>& steps, const std::vector<uint8_t>& compressed,
                uint16_t channels, uint16_t bits, uint16_t codecDelay, uint32_t decodedLength,
                FormatBlock sourceFormat = MakeMpegLayer3Format(2, 44100, 128000, 10, 0),
                uint32_t targetRate = 44100) {
    script = Script{};
    script.steps = steps;
    if (sourceFormat.size() >= 30) sourceFormat[28] = static_cast<uint8_t>(codecDelay);
    const FormatBlock target = MakePcmFormat(channels, targetRate, bits);
    char path[] = "/tmp/decode_stream_test-XXXXXX";
    const int fd = mkstemp(path);
    unlink(path);
    ChunkFilePtr destination = OpenChunkFileOnDisk(dup(fd));
    ChunkFilePtr source = OpenChunkFileInMemory(compressed.data(), compressed.size());
    Result result;
    testing::internal::CaptureStdout();
    uint64_t decodedBytes = 0;
    result.ok = DecodeStream(*destination, target, sourceFormat, *source,
                             static_cast<uint32_t>(compressed.size()), decodedLength, &decodedBytes,
                             &result.reason);
    result.marks = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ChunkFileClose(std::move(destination)));
    result.output.resize(static_cast<size_t>(lseek(fd, 0, SEEK_END)));
    EXPECT_EQ(pread(fd, result.output.data(), result.output.size(), 0),
              static_cast<ssize_t>(result.output.size()));
    close(fd);
    return result;
  }
};

std::vector<uint8_t> Counting(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  return bytes;
}

TEST_F(DecodeStreamTest, CutsTheDelayFromTheFirstAudioAndCapsTheLength) {
  // 16-bit stereo, delay 100 frames: 400 bytes skipped from the first 1000.
  Result r = Decode({{-1, 1000}, {-1, 1000}}, Counting(640), 2, 16, 100, 1000);
  ASSERT_TRUE(r.ok) << r.reason;
  ASSERT_EQ(r.output.size(), 1000u);
  EXPECT_EQ(r.output[0], 400 % 256);  // the 401st byte the codec produced
  EXPECT_EQ(r.output[599], 999 % 256);
  EXPECT_EQ(r.output[600], 1000 % 256);  // the second block follows seamlessly
  EXPECT_EQ(r.marks, "##");

  // A first block shorter than the delay: the rest is cut from the next.
  r = Decode({{-1, 300}, {-1, 1000}}, Counting(640), 2, 16, 100, 100000);
  ASSERT_EQ(r.output.size(), 900u);
  EXPECT_EQ(r.output[0], 400 % 256);
  EXPECT_EQ(r.marks, "##");

  // Passes without output neither print a mark nor take the delay.
  r = Decode({{-1, 0}, {-1, 0}, {-1, 500}}, Counting(960), 1, 16, 10, 100000);
  ASSERT_EQ(r.output.size(), 480u);
  EXPECT_EQ(r.output[0], 20);
  EXPECT_EQ(r.marks, "#");

  // Output at half the source's rate: the delay is 50 frames there.
  r = Decode({{-1, 1000}}, Counting(320), 1, 16, 100, 100000,
             MakeMpegLayer3Format(1, 44100, 128000, 10, 0), 22050);
  ASSERT_EQ(r.output.size(), 900u);
  EXPECT_EQ(r.output[0], 100);
}

TEST_F(DecodeStreamTest, StopsAtTheCap) {
  // Reaching the cap exactly does not end the loop; the next pass with
  // output writes nothing, prints its mark and ends it.
  Result r = Decode({{-1, 500}, {-1, 500}, {-1, 500}, {-1, 500}}, Counting(1280), 1, 16, 0, 1000);
  ASSERT_EQ(r.output.size(), 1000u);
  EXPECT_EQ(r.marks, "###");
  EXPECT_EQ(script.presented.size(), 3u);

  // 8-bit output with an odd cap loses two more bytes: 990 -> 1010 gives 9.
  r = Decode({{-1, 990}, {-1, 20}, {-1, 20}}, Counting(960), 1, 8, 0, 1001);
  EXPECT_EQ(r.output.size(), 999u);
  EXPECT_EQ(r.marks, "##");

  // An even cap on 8-bit output, and an odd one on 16-bit, cut exactly.
  r = Decode({{-1, 990}, {-1, 20}}, Counting(640), 1, 8, 0, 1000);
  EXPECT_EQ(r.output.size(), 1000u);
  r = Decode({{-1, 990}, {-1, 20}}, Counting(640), 1, 16, 0, 1001);
  EXPECT_EQ(r.output.size(), 1001u);
}

TEST_F(DecodeStreamTest, PresentsUnconsumedBytesAgain) {
  const std::vector<uint8_t> compressed = Counting(700);
  // The codec takes 300 of 320 bytes, then 200 of 340, then everything.
  Result r = Decode({{300, 10}, {200, 10}, {-1, 10}}, compressed, 1, 16, 0, 100000);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(script.presented.size(), 4u);
  EXPECT_EQ(script.presented[0],
            std::vector<uint8_t>(compressed.begin(), compressed.begin() + 320));
  // 20 carried bytes, then no more new bytes than the buffer has room for.
  EXPECT_EQ(script.presented[1],
            std::vector<uint8_t>(compressed.begin() + 300, compressed.begin() + 620));
  EXPECT_EQ(script.presented[2],
            std::vector<uint8_t>(compressed.begin() + 500, compressed.begin() + 700));
  EXPECT_EQ(r.marks, "###");
  // Then the source has ended: one last call with nothing left to present.
  EXPECT_TRUE(script.presented[3].empty());
  EXPECT_EQ(script.flags[3], kConvertEnd);

  // Bytes the codec left at the end, and what it held back, still come out.
  r = Decode({{270, 10}, {-1, 30}}, Counting(320), 1, 16, 0, 100000);
  ASSERT_EQ(script.presented.size(), 3u);
  EXPECT_EQ(script.presented[1],
            std::vector<uint8_t>(compressed.begin() + 270, compressed.begin() + 320));
  EXPECT_EQ(r.output.size(), 40u);
  EXPECT_EQ(r.marks, "#");  // the calls after the source's end print none

  // A pass without output still keeps what the codec did not take.
  r = Decode({{100, 0}, {-1, 10}}, Counting(400), 1, 16, 0, 100000);
  ASSERT_EQ(script.presented.size(), 3u);
  EXPECT_EQ(script.presented[1].size(), 300u);
  EXPECT_EQ(script.presented[1][0], Counting(400)[100]);
}

TEST_F(DecodeStreamTest, AsksForWholeBlocksOnlyWhenThePassHoldsWholeBlocks) {
  // Passes of 320 bytes are 32 whole blocks of 10; the last 15 bytes are not.
  Decode({}, Counting(335), 1, 16, 0, 100000);
  ASSERT_EQ(script.flags.size(), 3u);
  EXPECT_EQ(script.flags[0], kConvertBlockAlign);
  EXPECT_EQ(script.flags[1], 0u);
  EXPECT_EQ(script.flags[2], kConvertEnd);

  // No compressed audio: no pass at all.
  const Result r = Decode({}, {}, 1, 16, 0, 100000);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(script.flags, std::vector<uint32_t>{kConvertEnd});
  EXPECT_TRUE(r.output.empty());
  EXPECT_EQ(r.marks, "");
}

TEST_F(DecodeStreamTest, RefusesSourcesItCannotDecode) {
  Result r = Decode({}, Counting(10), 1, 16, 0, 100, MakePcmFormat(1, 44100, 16));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.reason.find("not MPEG Layer-3"), std::string::npos) << r.reason;

  FormatBlock shortBlock = MakeMpegLayer3Format(1, 44100, 128000, 10, 0);
  shortBlock.resize(24);
  r = Decode({}, Counting(10), 1, 16, 0, 100, shortBlock);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.reason.find("too short"), std::string::npos) << r.reason;

  r = Decode({}, Counting(10), 1, 16, 0, 100, MakeMpegLayer3Format(1, 44100, 128000, 0, 0));
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.reason.find("nBlockSize"), std::string::npos) << r.reason;
  EXPECT_TRUE(script.presented.empty());
}

TEST_F(DecodeStreamTest, StopsAtTheFirstWriteThatFails) {
  // 100 conversions that give 4096 bytes each. /dev/full fails once the
  // 64 KiB buffer is written out; a file 10000 bytes short of 4 GiB (sparse)
  // at the third.
  const int64_t nearLimit = (int64_t{1} << 32) - 10000;
  const struct {
    const char* path;  // null: an anonymous file
    int64_t start;
    const char* reason;
  } cases[] = {{"/dev/full", 0, "failed (disk full or I/O error)"},
               {nullptr, nearLimit, "the output would be larger than a WAV file can hold (4 GiB)"}};
  const std::vector<uint8_t> compressed = Counting(320 * 100);
  for (const auto& [path, start, reason] : cases) {
    for (const bool encode : {false, true}) {
      SCOPED_TRACE(std::string(encode ? "encode " : "decode ") + (path ? path : "near 4 GiB"));
      script = Script{};
      script.steps.assign(100, Step{-1, 4096});
      ChunkFilePtr destination =
          OpenChunkFileOnDisk(path ? open(path, O_RDWR) : memfd_create("decode_stream_test", 0));
      ASSERT_EQ(ChunkSeek(*destination, start, SEEK_SET), start);
      ChunkFilePtr source = OpenChunkFileInMemory(compressed.data(), compressed.size());
      const FormatBlock pcm = MakePcmFormat(1, 44100, 16);
      std::string why;
      uint64_t decoded = 0;
      testing::internal::CaptureStdout();
      const bool ok =
          encode ? EncodeStream(*source, *destination, pcm, pcm, &why)
                 : DecodeStream(*destination, pcm, MakeMpegLayer3Format(1, 44100, 128000, 10, 0),
                                *source, static_cast<uint32_t>(compressed.size()), UINT32_MAX,
                                &decoded, &why);
      testing::internal::GetCapturedStdout();
      EXPECT_FALSE(ok);
      EXPECT_NE(why.find(reason), std::string::npos) << why;
      EXPECT_LE(script.presented.size(), path ? 17u : 3u);
    }
  }
}

}  // namespace
