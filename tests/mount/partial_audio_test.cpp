// A long entry's file with its audio decoded a segment at a time: a read
// decodes only the segments it reaches, every byte comes out as decoding
// the entry whole gives it, and a segment whose source could no longer be
// read fails for good.

#include "mount/partial_audio.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "archive/pak_writer.h"
#include "convert/unpack_entry.h"
#include "platform/console.h"
#include "tests/codec/codec_test_support.h"
#include "tests/support/encoded_clip.h"

namespace unpak {

namespace {

std::vector<uint8_t> ReadWhole(int fd) {
  std::vector<uint8_t> bytes(static_cast<size_t>(lseek(fd, 0, SEEK_END)));
  EXPECT_EQ(pread(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  return bytes;
}

const EncodedClip& LongClip() {
  static const EncodedClip clip = MakeEncodedClip(1, 44100, 44100 * 70, 3, 64);
  return clip;
}

// 70 seconds of music (three segments) cut short by its stated length,
// between chunks that the file keeps.
struct PartialAudioTest : CodecModuleTest {
  const EncodedClip& clip = LongClip();
  std::vector<uint8_t> payload = BuildEntryPayload({ClipSourceFormat(clip),
                                                    {},
                                                    44100 * 69 * 2,
                                                    {{"LIST", std::vector<uint8_t>(333, 'l')}},
                                                    clip.mp3,
                                                    {{"cue ", std::vector<uint8_t>(77, 'c')}}});
  uint8_t target[kTargetFormatSize] = {};
  EntryFacts facts;
  std::vector<uint8_t> whole;  // the entry decoded whole

  void SetUp() override {
    CodecModuleTest::SetUp();
    const FormatBlock pcm = MakePcmFormat(1, 44100, 16);
    std::copy(pcm.begin(), pcm.end(), target);
    std::string reason;
    ASSERT_TRUE(InspectEntry(target, payload.data(), uint32_t(payload.size()), &facts, &reason));
    EntryResult result;
    ConsoleCapture marks;
    const ScopedConsoleCapture capture(marks);
    ASSERT_TRUE(UnpackEntry(facts, payload.data(), uint32_t(payload.size()),
                            OutputKeeping::kInMemory, &result, &reason))
        << reason;
    whole = ReadWhole(result.unnamedOutput->fd);
  }

  // The file without its audio, and its plan; `fd` receives the file.
  std::unique_ptr<PartialAudio> WithoutAudio(EntryResult* result) {
    std::unique_ptr<PartialAudio> audio = PlanPartialAudio(
        facts, CompressedAudio(payload.data(), uint32_t(payload.size()), facts.layout));
    std::string reason;
    EXPECT_TRUE(audio && WriteEntryWithoutAudio(facts, payload.data(), uint32_t(payload.size()),
                                                OutputKeeping::kInMemory, result,
                                                &audio->audioStart, &reason))
        << reason;
    return audio;
  }
};

bool Intact(std::string*) { return true; }

TEST_F(PartialAudioTest, DecodesOnlyTheSegmentsReadsReachAndMatchesTheWholeDecoding) {
  EntryResult result;
  std::unique_ptr<PartialAudio> audio = WithoutAudio(&result);
  ASSERT_TRUE(audio);
  ASSERT_EQ(audio->segments.size(), 3u);
  const int fd = result.unnamedOutput->fd;
  const std::vector<uint8_t> before = ReadWhole(fd);
  ASSERT_EQ(before.size(), whole.size());
  // Everything but the audio is there before any decoding.
  EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + audio->audioStart, before.begin()));
  const size_t audioEnd = audio->audioStart + facts.audioBytes;
  EXPECT_TRUE(std::equal(whole.begin() + audioEnd, whole.end(), before.begin() + audioEnd));

  std::string reason;
  ASSERT_TRUE(FillAudio(*audio, fd, audioEnd - 1000, audioEnd, Intact, &reason)) << reason;
  EXPECT_EQ(std::count(audio->segments.begin(), audio->segments.end(), SegmentFill::kFilled), 1);
  EXPECT_EQ(audio->segments.back(), SegmentFill::kFilled);
  const std::vector<uint8_t> end = ReadWhole(fd);
  EXPECT_TRUE(std::equal(whole.end() - 2000, whole.end(), end.end() - 2000));

  // Two readers at once over all of it, one going on from the other's segments.
  std::vector<std::thread> readers;
  for (int i = 0; i < 2; ++i) {
    readers.emplace_back([&] {
      std::string failure;
      EXPECT_TRUE(FillAudio(*audio, fd, 0, whole.size(), Intact, &failure)) << failure;
    });
  }
  for (std::thread& reader : readers) reader.join();
  EXPECT_TRUE(ReadWhole(fd) == whole);
}

TEST_F(PartialAudioTest, ASegmentWhoseSourceWasLostFailsForGood) {
  EntryResult result;
  std::unique_ptr<PartialAudio> audio = WithoutAudio(&result);
  ASSERT_TRUE(audio);
  const int fd = result.unnamedOutput->fd;
  const auto lost = [](std::string* reason) {
    *reason = "the archive changed";
    return false;
  };
  std::string reason;
  EXPECT_FALSE(FillAudio(*audio, fd, audio->audioStart, audio->audioStart + 10, lost, &reason));
  EXPECT_EQ(reason, "the archive changed");
  EXPECT_EQ(audio->segments.front(), SegmentFill::kFailed);
  reason.clear();
  EXPECT_FALSE(FillAudio(*audio, fd, audio->audioStart, audio->audioStart + 10, Intact, &reason));
  EXPECT_EQ(reason, "the archive changed");
  // The other segments are still there to be read.
  EXPECT_TRUE(FillAudio(*audio, fd, whole.size() - 10, whole.size(), Intact, &reason));
}

}  // namespace

}  // namespace unpak
