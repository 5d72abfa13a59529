#include "platform/codec_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <vector>

#include "platform/byte_order.h"
#include "platform/wave_format.h"

// The opaque stream of the driver interface, which is C and outside the
// project's namespace.
struct CodecDriverStream {};

namespace unpak {

namespace {

constexpr uint8_t kPoison = 0xEE;  // a first source byte that makes the copier misreport

int32_t Refuse(char* reason, uint32_t size, const char* text) {
  if (text) std::snprintf(reason, size, "%s", text);
  return kCodecNotPossible;
}

// Two in-process drivers, registered once for the whole process: a copier
// (tag 0x1111 to PCM only; suggests 2 channels), then a refuser (suggests 7
// channels for any tag, opens nothing, explains itself only for tag 2).
const CodecDriver kCopier = {
    UNPAK_CODEC_DRIVER_ABI, "copier",
    [](const uint8_t* from, uint32_t, uint8_t* suggested, uint32_t) -> int32_t {
      StoreLe16(suggested + 2, 2);
      return LoadLe16(from) == 0x1111 ? kCodecOk : kCodecNotPossible;
    },
    [](const uint8_t* from, uint32_t, const uint8_t* to, uint32_t, CodecDriverStream** stream,
       char* reason, uint32_t size) -> int32_t {
      if (LoadLe16(from) != 0x1111) return kCodecNotPossible;
      if (LoadLe16(to) != 1) return Refuse(reason, size, "copier: PCM only");
      *stream = new CodecDriverStream;
      return kCodecOk;
    },
    [](CodecDriverStream*, uint32_t, uint32_t*, uint32_t) -> int32_t { return kCodecNotPossible; },
    // Copies; claims one byte more of the destination than there is after kPoison.
    [](CodecDriverStream*, CodecStreamHeader* header, uint32_t) -> int32_t {
      const uint32_t count = std::min(header->cbSrcLength, header->cbDstLength);
      std::memcpy(header->pbDst, header->pbSrc, count);
      header->cbSrcLengthUsed = count;
      header->cbDstLengthUsed = count + (header->pbSrc[0] == kPoison);
      return kCodecOk;
    },
    [](CodecDriverStream*) { return "fake failure"; },
    [](CodecDriverStream* stream) { delete stream; }};

const CodecDriver kRefuser = [] {
  CodecDriver driver = kCopier;
  driver.name = "refuser";
  driver.suggestFormat = [](const uint8_t*, uint32_t, uint8_t* suggested, uint32_t) -> int32_t {
    StoreLe16(suggested + 2, 7);
    return kCodecOk;
  };
  driver.openStream = [](const uint8_t*, uint32_t, const uint8_t* to, uint32_t, CodecDriverStream**,
                         char* reason, uint32_t size) {
    return Refuse(reason, size, LoadLe16(to) == 2 ? "refuser: no" : nullptr);
  };
  return driver;
}();
// The copier's table, to be made one of another version and one without a function.
CodecDriver otherAbi = kCopier, incomplete = kCopier;

template <const CodecDriver* driver>
const CodecDriver* EntryOf(uint32_t index) {
  return index == 0 ? driver : nullptr;
}

const bool kRegistered = CodecDriverAdd(EntryOf<&kCopier>) && CodecDriverAdd(EntryOf<&kRefuser>);

// A format block of `tag` with every other field 0.
FormatBlock Format(uint16_t tag) { return MakeFormatBlock({tag}); }

TEST(CodecService, RegistryRefusesBadTablesAndAsksDriversInOrder) {
  EXPECT_FALSE(CodecDriverAdd(nullptr));
  EXPECT_FALSE(CodecDriverAdd([](uint32_t) -> const CodecDriver* { return nullptr; }));
  otherAbi.abiVersion += 1;
  incomplete.convert = nullptr;
  EXPECT_FALSE(CodecDriverAdd(EntryOf<&otherAbi>));
  EXPECT_FALSE(CodecDriverAdd(EntryOf<&incomplete>));
  ASSERT_TRUE(kRegistered);
  // The first driver that knows one suggests.
  for (const auto& [tag, channels] : {std::pair{0x1111, 2}, {0x4444, 7}}) {
    std::vector<uint8_t> suggested = Format(1);
    ASSERT_TRUE(CodecFormatSuggest(Format(tag), suggested));
    EXPECT_EQ(LoadLe16(suggested.data() + 2), channels) << tag;
  }
  // A later driver's reason wins; a later silent driver keeps the earlier one.
  const std::tuple<uint16_t, uint16_t, std::string> refusals[] = {
      {0x1111, 3, "copier: PCM only"},
      {0x1111, 2, "refuser: no"},
      {0x4444, 1, "no codec converts format tag 0x4444 to format tag 0x0001"}};
  for (const auto& [from, to, expected] : refusals) {
    std::string reason;
    EXPECT_FALSE(CodecStreamOpen(Format(from), Format(to), &reason));
    EXPECT_EQ(reason, expected);
  }
}

TEST(CodecService, ConvertsOnlyPreparedHeadersWithinTheirBuffers) {
  CodecStreamPtr stream = CodecStreamOpen(Format(0x1111), Format(1), nullptr);
  ASSERT_TRUE(stream);
  uint8_t source[10] = {1, 2, 3, 4, 5, 6, 7}, destination[10] = {};
  CodecStreamHeader header{sizeof header, 0, source, 10, 0, destination, 10, 0};
  EXPECT_FALSE(CodecStreamConvert(*stream, header, 0));
  EXPECT_EQ(CodecStreamError(*stream), "the stream header is not prepared");
  CodecStreamHeader wrongSize = header, noBuffer = header, second = header;
  wrongSize.cbStruct = 84;
  noBuffer.pbDst = nullptr;
  EXPECT_FALSE(CodecStreamPrepareHeader(*stream, wrongSize));
  EXPECT_FALSE(CodecStreamPrepareHeader(*stream, noBuffer));
  ASSERT_TRUE(CodecStreamPrepareHeader(*stream, header));
  EXPECT_FALSE(CodecStreamPrepareHeader(*stream, second)) << "one prepared header at a time";

  header.cbSrcLength = 7;
  ASSERT_TRUE(CodecStreamConvert(*stream, header, 0));
  EXPECT_EQ(header.cbDstLengthUsed, 7u);
  EXPECT_EQ(std::memcmp(destination, source, 7), 0);
  header.cbSrcLength = 11;
  EXPECT_FALSE(CodecStreamConvert(*stream, header, 0));
  EXPECT_EQ(CodecStreamError(*stream), "the stream header's lengths exceed the prepared buffers");
  header.cbSrcLength = 10;
  header.pbDst = source;  // buffers changed since prepared
  EXPECT_FALSE(CodecStreamConvert(*stream, header, 0));
  header.pbDst = destination;
  // A driver that reports more output than the buffer holds is caught.
  source[0] = kPoison;
  EXPECT_FALSE(CodecStreamConvert(*stream, header, 0));
  EXPECT_EQ(header.cbDstLengthUsed, 0u);
  EXPECT_EQ(CodecStreamError(*stream),
            "codec copier reported 10 of 10 source bytes and 11 of 10 destination bytes used");
  CodecStreamUnprepareHeader(*stream, header);
  source[0] = 1;
  EXPECT_FALSE(CodecStreamConvert(*stream, header, 0));
}

}  // namespace

}  // namespace unpak
