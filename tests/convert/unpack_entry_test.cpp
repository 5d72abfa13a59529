// An entry rebuilt while the disk fills up (a file size limit, with SIGXFSZ
// ignored, fails writes as a full disk does): wherever that happens, the
// entry fails at the first write that fails, naming what could not be
// written, and leaves nothing behind.

#include "convert/unpack_entry.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>

#include "archive/pak_writer.h"
#include "platform/console.h"
#include "tests/codec/codec_test_support.h"
#include "tests/support/encoded_clip.h"
#include "tests/support/temp_dir.h"

namespace unpak {

namespace {

using UnpackEntryTest = CodecModuleTest;

TEST_F(UnpackEntryTest, AFullDiskFailsTheEntryAtItsFirstFailedWrite) {
  // Two seconds of mono audio (88200 bytes decoded) between chunks of 100000
  // bytes: each part spans writes of the 64 KiB buffer.
  const EncodedClip clip = MakeEncodedClip(1, 22050, 44100, 5, 64);
  const std::vector<uint8_t> chunk(100000, 'x');
  const std::vector<uint8_t> payload = BuildEntryPayload(
      {ClipSourceFormat(clip), {}, 88200, {{"LIST", chunk}}, clip.mp3, {{"cue ", chunk}}});
  const FormatBlock pcm = MakePcmFormat(1, 22050, 16);
  const FormatBlock mulaw = MakeFormatBlock({7, 1, 22050, 22050, 1, 8, 0});
  const struct {
    const FormatBlock& target;
    rlim_t limit;  // the largest file, in bytes
    bool keep;
    uint64_t decodedAtMost;  // the audio it got to, well short of the whole where it stopped
    std::string reason;
  } cases[] = {
      {pcm, 10, true, 0, "writing the output file failed (disk full or I/O error)"},  // header
      {pcm, 1000, true, 0, "writing the output file failed"},             // the chunk before "data"
      {pcm, 70000, true, 70000, "writing the decoded audio failed"},      // the audio
      {pcm, 150000, true, UINT64_MAX, "writing the output file failed"},  // the chunk after it
      {pcm, 270000, true, UINT64_MAX, "writing the output file failed"},  // the last write
      {mulaw, 70000, true, UINT64_MAX, "writing the temporary file failed"},  // the decoded audio
      {mulaw, 100000, true, UINT64_MAX, "writing the output file failed"},    // the encoded audio
      {mulaw, RLIM_INFINITY, false, 0, "cannot create a temporary file in /nonexistent: No such"},
  };
  TempDir dir;
  signal(SIGXFSZ, SIG_IGN);
  setenv("TMPDIR", "/nonexistent", 1);  // where scratch audio waits when nothing is kept
  std::filesystem::current_path(dir.path);
  rlimit unlimited;
  getrlimit(RLIMIT_FSIZE, &unlimited);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "limit " << c.limit);
    uint8_t field[kTargetFormatSize] = {};
    std::copy(c.target.begin(), c.target.end(), field);
    EntryFacts facts;
    std::string reason;
    ASSERT_TRUE(InspectEntry(field, payload.data(), uint32_t(payload.size()), &facts, &reason));
    const rlimit limit{c.limit, unlimited.rlim_max};
    EntryResult result;
    {
      ConsoleCapture marks;
      const ScopedConsoleCapture capture(marks);
      setrlimit(RLIMIT_FSIZE, &limit);
      EXPECT_FALSE(UnpackEntry(
          facts, payload.data(), uint32_t(payload.size()),
          c.keep ? OutputKeeping::kInCurrentDirectory : OutputKeeping::kDiscarded, &result,
          &reason));
      setrlimit(RLIMIT_FSIZE, &unlimited);
    }
    EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
    EXPECT_LE(result.decodedBytes, c.decodedAtMost);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path));
  }
}

}  // namespace

}  // namespace unpak
