// An MP3 stream decoded in segments, each on a decoder of its own started
// early, joins into exactly its whole decoding: on the MPEG-1 conformance
// streams and LAME music with a full bit reservoir, with a
// segment starting at every frame; and through the join, with helper
// threads, the same audio, delay cut, cap and "#" marks as the decode loop.

#include "convert/segmented_stream.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <numeric>
#include <thread>

#include "convert/decode_stream.h"
#include "convert/decoded_audio.h"
#include "convert/segment_decode.h"
#include "platform/mpeg_layer3.h"
#include "tests/codec/codec_test_support.h"
#include "tests/support/encoded_clip.h"
#include "tests/support/file_io.h"

namespace unpak {

namespace {

using SegmentedStreamTest = CodecModuleTest;

struct Decoded {
  bool ok = false;
  std::string reason;
  std::vector<uint8_t> audio;
  std::string marks;
  uint64_t decodedBytes = 0;
};

// Runs `decode` into a fresh destination with standard output captured.
Decoded Capture(const std::function<bool(ChunkFile&, Decoded*)>& decode) {
  const int fd = memfd_create("segmented_stream_test", 0);
  ChunkFilePtr destination = OpenChunkFileOnDisk(dup(fd));
  Decoded result;
  testing::internal::CaptureStdout();
  result.ok = decode(*destination, &result);
  result.marks = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ChunkFileClose(std::move(destination)));
  result.audio.resize(static_cast<size_t>(lseek(fd, 0, SEEK_END)));
  EXPECT_EQ(pread(fd, result.audio.data(), result.audio.size(), 0),
            static_cast<ssize_t>(result.audio.size()));
  close(fd);
  return result;
}

Decoded DecodeWhole(const FormatBlock& source, const FormatBlock& target,
                    const std::vector<uint8_t>& stream, uint32_t decodedLength) {
  return Capture([&](ChunkFile& destination, Decoded* result) {
    ChunkFilePtr input = OpenChunkFileInMemory(stream.data(), static_cast<int64_t>(stream.size()));
    return DecodeStream(destination, target, source, *input, static_cast<uint32_t>(stream.size()),
                        decodedLength, &result->decodedBytes, &result->reason);
  });
}

// A plan with a segment from each of `firstFrames` on.
SegmentPlan PlanAt(const std::vector<uint8_t>& stream, const FormatBlock& source,
                   const FormatBlock& target, std::vector<uint32_t> firstFrames) {
  SegmentPlan plan;
  const uint32_t rate = ReadWaveFormat(source.data()).nSamplesPerSec;
  plan.frameStarts = FollowFrames(stream, rate);
  plan.firstFrames = std::move(firstFrames);
  plan.frameBytes = Layer3FrameSamples(rate) * ReadWaveFormat(target.data()).nBlockAlign;
  MpegLayer3Fields mpeg;
  EXPECT_TRUE(ReadMpegLayer3Fields(source.data(), source.size(), &mpeg));
  plan.passSize = DecodePassSize(mpeg);
  return plan;
}

// The largest main_data_begin of the stream's frames: how far back into
// earlier frames the bit reservoir reaches.
uint32_t DeepestReservoir(const std::vector<uint8_t>& stream, const SegmentPlan& plan) {
  uint32_t deepest = 0;
  for (const uint32_t at : plan.frameStarts) {
    const uint8_t* side = stream.data() + at + 4 + ((stream[at + 1] & 1) == 0 ? 2 : 0);
    const bool mpeg1 = (stream[at + 1] & 0x08) != 0;
    deepest = std::max<uint32_t>(deepest, mpeg1 ? (side[0] << 1 | side[1] >> 7) : side[0]);
  }
  return deepest;
}

TEST_F(SegmentedStreamTest, SegmentsStartingAtEveryFrameJoinIntoTheWholeDecoding) {
  const EncodedClip music32 = MakeEncodedClip(1, 44100, 44100 * 4, 3, 32);
  const std::filesystem::path conformance = UNPAK_CONFORMANCE_DIR;
  const struct {
    std::string name;
    std::vector<uint8_t> stream;
    uint16_t channels;
    uint32_t rate;
    uint32_t reservoirAtLeast;  // main_data_begin that the stream reaches (511 at most)
  } cases[] = {
      {"LAME 32 kbps 44.1 kHz", music32.mp3, 1, 44100, 400},
      {"compl", ReadBytes(conformance / "mpeg1/compl.bit"), 1, 48000, 0},
      {"he_32khz", ReadBytes(conformance / "mpeg1/he_32khz.bit"), 1, 32000, 0},
      {"he_44khz", ReadBytes(conformance / "mpeg1/he_44khz.bit"), 1, 44100, 0},
      {"he_48khz", ReadBytes(conformance / "mpeg1/he_48khz.bit"), 1, 48000, 0},
      {"he_mode", ReadBytes(conformance / "mpeg1/he_mode.bit"), 2, 44100, 0},
      {"hecommon", ReadBytes(conformance / "mpeg1/hecommon.bit"), 2, 44100, 0},
      {"si", ReadBytes(conformance / "mpeg1/si.bit"), 1, 44100, 0},
      {"si_block", ReadBytes(conformance / "mpeg1/si_block.bit"), 1, 44100, 0},
      {"si_huff", ReadBytes(conformance / "mpeg1/si_huff.bit"), 1, 44100, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.stream.empty()) GTEST_SKIP() << "no conformance streams in " << conformance;
    const FormatBlock source = MakeMpegLayer3Format(c.channels, c.rate, 128000, 417, 0);
    const FormatBlock target = MakePcmFormat(c.channels, c.rate, 16);
    const Decoded whole = DecodeWhole(source, target, c.stream, UINT32_MAX);
    ASSERT_TRUE(whole.ok) << whole.reason;
    SegmentPlan plan = PlanAt(c.stream, source, target, {});
    plan.firstFrames.resize(plan.frameStarts.size());
    std::iota(plan.firstFrames.begin(), plan.firstFrames.end(), 0u);
    EXPECT_GE(DeepestReservoir(c.stream, plan), c.reservoirAtLeast);
    std::vector<uint8_t> joined;
    for (size_t i = 0; i < plan.firstFrames.size(); ++i) {
      SegmentDecoderPtr fresh;
      SegmentAudio audio;
      DecodeSegment({source, target, c.stream, plan}, i, &fresh, &audio);
      ASSERT_TRUE(audio.ok) << audio.reason;
      joined.insert(joined.end(), audio.pcm.begin(), audio.pcm.end());
    }
    EXPECT_TRUE(joined == whole.audio) << joined.size() << " bytes against " << whole.audio.size();
  }
}

TEST_F(SegmentedStreamTest, JoinedSegmentsGiveTheDecodeLoopsAudioCutCapAndMarks) {
  const EncodedClip stereo = MakeEncodedClip(2, 44100, 44100 * 3, 7, 128);
  const EncodedClip mono = MakeEncodedClip(1, 32000, 32000 * 3, 8, 32);
  const uint32_t all = UINT32_MAX;
  const struct {
    const EncodedClip& clip;
    uint16_t channels, bits;
    uint32_t decodedLength;
    size_t segments;
    size_t streamBytes;  // of the clip's stream: less cuts the last frame
  } cases[] = {
      {stereo, 2, 16, all, 5, SIZE_MAX},          // the whole stream, the delay cut
      {stereo, 2, 16, 200001 * 4, 7, SIZE_MAX},   // capped in a middle segment
      {stereo, 1, 8, 150001, 3, SIZE_MAX},        // 8-bit mono with an odd cap
      {mono, 2, 24, all, 4, SIZE_MAX},            // duplicated to 24-bit stereo
      {mono, 1, 16, all, 6, 20000},               // a last frame cut short
      {mono, 1, 16, 32000 * 2 * 3, 2, SIZE_MAX},  // capped exactly where the audio ends
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.channels << " channels, " << c.bits << " bits, cap "
                                    << c.decodedLength << ", " << c.segments << " segments");
    const std::vector<uint8_t> stream(
        c.clip.mp3.begin(), c.clip.mp3.begin() + std::min(c.streamBytes, c.clip.mp3.size()));
    const FormatBlock source = ClipSourceFormat(c.clip);
    const FormatBlock target =
        MakePcmFormat(c.channels, static_cast<uint32_t>(c.clip.rate), c.bits);
    const Decoded whole = DecodeWhole(source, target, stream, c.decodedLength);
    SegmentPlan plan = PlanAt(stream, source, target, {});
    for (size_t i = 0; i < c.segments; ++i) {
      plan.firstFrames.push_back(static_cast<uint32_t>(i * plan.frameStarts.size() / c.segments));
    }
    SegmentHelpers helpers;
    helpers.ahead = 2;
    std::thread helper(HelpWithSegments, std::ref(helpers));
    const Decoded joined = Capture([&](ChunkFile& destination, Decoded* result) {
      return DecodeStreamInSegments(helpers, plan, destination, target, source, stream,
                                    c.decodedLength, &result->decodedBytes, &result->reason);
    });
    CloseSegmentHelpers(helpers);
    helper.join();
    ASSERT_TRUE(whole.ok && joined.ok) << whole.reason << joined.reason;
    EXPECT_TRUE(joined.audio == whole.audio)
        << joined.audio.size() << " against " << whole.audio.size();
    EXPECT_EQ(joined.marks, whole.marks);
    if (c.decodedLength == all) {
      EXPECT_EQ(joined.decodedBytes, whole.decodedBytes);
    }
  }
}

}  // namespace

}  // namespace unpak
