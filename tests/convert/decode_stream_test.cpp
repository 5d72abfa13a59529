// The decode loop's arithmetic against a scripted codec: the delay cut, the
// length cap, carried source bytes, passes without output, and the sources
// it refuses.

#include "convert/decode_stream.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <numeric>
#include <string>
#include <vector>

#include "archive/pak_writer.h"
#include "platform/codec_service.h"

namespace unpak {

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

// No suggestions and no size answers: the loop takes 4096-byte destinations.
int32_t Unknown(const uint8_t*, uint32_t, uint8_t*, uint32_t) { return kCodecNotPossible; }
int32_t NoSize(CodecDriverStream*, uint32_t, uint32_t*, uint32_t) { return kCodecNotPossible; }
int32_t Open(const uint8_t*, uint32_t, const uint8_t*, uint32_t, CodecDriverStream** stream, char*,
             uint32_t) {
  *stream = reinterpret_cast<CodecDriverStream*>(&script);
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
    UNPAK_CODEC_DRIVER_ABI, "scripted", Unknown, Open, NoSize, Convert, LastError, Close};
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
                uint32_t targetRate = 44100,
                FormatBlock sourceFormat = MakeMpegLayer3Format(2, 44100, 128000, 10, 0)) {
    script = Script{};
    script.steps = steps;
    if (sourceFormat.size() >= 30) sourceFormat[28] = static_cast<uint8_t>(codecDelay);
    const FormatBlock target = MakePcmFormat(channels, targetRate, bits);
    const int fd = memfd_create("decode_stream_test", 0);
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
  // The output must be one unbroken run of the codec's counting bytes, from
  // `first` on: past the delay, up to the cap.
  const struct {
    std::vector<Step> steps;
    size_t compressed;
    uint16_t channels, bits, delay;
    uint32_t cap, rate;
    size_t first, size;
    std::string marks;
  } cases[] = {
      // 16-bit stereo, delay 100 frames (400 bytes): a first block shorter
      // than the delay, the rest cut from the next.
      {{{-1, 300}, {-1, 1000}}, 640, 2, 16, 100, 100000, 44100, 400, 900, "##"},
      // Passes without output neither print a mark nor take the delay.
      {{{-1, 0}, {-1, 0}, {-1, 500}}, 960, 1, 16, 10, 100000, 44100, 20, 480, "#"},
      // Reaching the cap exactly does not end the loop; the next pass with
      // output writes nothing, prints its mark and ends it.
      {{{-1, 500}, {-1, 500}, {-1, 500}, {-1, 500}}, 1280, 1, 16, 0, 1000, 44100, 0, 1000, "###"},
      // An odd cap on 16-bit output cuts exactly (8-bit output loses two bytes).
      {{{-1, 990}, {-1, 20}}, 640, 1, 16, 0, 1001, 44100, 0, 1001, "##"},
      // No compressed audio: no pass, no mark.
      {{}, 0, 1, 16, 0, 100000, 44100, 0, 0, ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << &c - cases);
    const Result r =
        Decode(c.steps, Counting(c.compressed), c.channels, c.bits, c.delay, c.cap, c.rate);
    std::vector<uint8_t> run(c.size);
    std::iota(run.begin(), run.end(), static_cast<uint8_t>(c.first));
    EXPECT_TRUE(r.ok) << r.reason;
    EXPECT_EQ(r.output, run);
    EXPECT_EQ(r.marks, c.marks);
  }
}

TEST_F(DecodeStreamTest, PresentsUnconsumedBytesAgain) {
  const std::vector<uint8_t> compressed = Counting(700);
  using Calls = std::vector<std::vector<uint8_t>>;  // the bytes each call is shown
  const auto slice = [&](long from, long to) {
    return std::vector<uint8_t>(compressed.begin() + from, compressed.begin() + to);
  };
  // The codec takes 300 of 320 bytes, then 200 of 340, then everything: 20
  // carried bytes, then no more new bytes than the buffer has room for. Then
  // the source has ended: one last call with nothing left to present.
  Result r = Decode({{300, 10}, {200, 10}, {-1, 10}}, compressed, 1, 16, 0, 100000);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(script.presented, (Calls{slice(0, 320), slice(300, 620), slice(500, 700), {}}));
  EXPECT_EQ(script.flags[3], kConvertEnd);
  EXPECT_EQ(r.marks, "###");

  // Bytes the codec left at the end, and what it held back, still come out.
  r = Decode({{270, 10}, {-1, 30}}, slice(0, 320), 1, 16, 0, 100000);
  EXPECT_EQ(script.presented, (Calls{slice(0, 320), slice(270, 320), {}}));
  EXPECT_EQ(r.output.size(), 40u);
  EXPECT_EQ(r.marks, "#");  // the calls after the source's end print none

  // A pass without output still keeps what the codec did not take.
  r = Decode({{100, 0}, {-1, 10}}, slice(0, 400), 1, 16, 0, 100000);
  EXPECT_EQ(script.presented, (Calls{slice(0, 320), slice(100, 400), {}}));
}

TEST_F(DecodeStreamTest, RefusesSourcesItCannotDecode) {
  FormatBlock shortBlock = MakeMpegLayer3Format(1, 44100, 128000, 10, 0);
  shortBlock.resize(24);
  const std::pair<FormatBlock, std::string> refusals[] = {
      {MakePcmFormat(1, 44100, 16), "the source format (tag 0x0001) is not MPEG Layer-3"},
      {shortBlock, "the source format block is too short for its MPEG Layer-3 fields"},
      {MakeMpegLayer3Format(1, 44100, 128000, 0, 0),
       "the source format's nBlockSize or nBlockAlign is 0"}};
  for (const auto& [format, reason] : refusals) {
    const Result r = Decode({}, Counting(10), 1, 16, 0, 100, 44100, format);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.reason, reason);
    EXPECT_TRUE(script.presented.empty());
  }
}

}  // namespace

}  // namespace unpak
