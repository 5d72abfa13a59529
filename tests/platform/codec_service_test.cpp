#include "platform/codec_service.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/byte_order.h"

struct CodecDriverStream {
  int unused;
};

// Small in-process drivers. The registry lives for the whole process, so
// every test registers the same drivers once, in this order: a refuser, a
// copier (tag 0x1111 to PCM), a second suggester and a faulty driver (tag
// 0x3333).
namespace {

constexpr uint16_t kCopyTag = 0x1111;
constexpr uint16_t kFaultyTag = 0x3333;

int closedStreams = 0;

uint16_t Tag(const uint8_t* format, uint32_t size) { return size >= 2 ? LoadLe16(format) : 0; }

void SetReason(char* reason, uint32_t size, const char* text) {
  if (reason) std::snprintf(reason, size, "%s", text);
}

CodecDriverStream* NewStream() { return new CodecDriverStream{}; }

int32_t NoSuggestion(const uint8_t*, uint32_t, uint8_t*, uint32_t) { return kCodecNotPossible; }
int32_t NoSize(CodecDriverStream*, uint32_t, uint32_t*, uint32_t) { return kCodecNotPossible; }
const char* FakeError(CodecDriverStream*) { return "fake failure"; }
void CloseFake(CodecDriverStream* stream) {
  ++closedStreams;
  delete stream;
}

// Refuses every open; explains itself only for non-PCM targets.
int32_t RefuserOpen(const uint8_t*, uint32_t, const uint8_t* destination, uint32_t destinationSize,
                    CodecDriverStream**, char* reason, uint32_t reasonSize) {
  if (Tag(destination, destinationSize) != 1) SetReason(reason, reasonSize, "refuser: no");
  return kCodecNotPossible;
}
int32_t RefuserConvert(CodecDriverStream*, CodecStreamHeader*, uint32_t) { return kCodecError; }

// Copies bytes; with kConvertBlockAlign only whole 4-byte blocks.
int32_t CopierSuggest(const uint8_t* source, uint32_t sourceSize, uint8_t* suggested,
                      uint32_t) {
  if (Tag(source, sourceSize) != kCopyTag) return kCodecNotPossible;
  StoreLe16(suggested, 1);
  StoreLe16(suggested + 2, 2);
  return kCodecOk;
}
int32_t CopierOpen(const uint8_t* source, uint32_t sourceSize, const uint8_t* destination,
                   uint32_t destinationSize, CodecDriverStream** stream, char* reason,
                   uint32_t reasonSize) {
  if (Tag(source, sourceSize) != kCopyTag) return kCodecNotPossible;
  if (Tag(destination, destinationSize) != 1) {
    SetReason(reason, reasonSize, "copier: PCM only");
    return kCodecNotPossible;
  }
  *stream = NewStream();
  return kCodecOk;
}
int32_t CopierSize(CodecDriverStream*, uint32_t input, uint32_t* output, uint32_t) {
  *output = input;
  return kCodecOk;
}
int32_t CopierConvert(CodecDriverStream*, CodecStreamHeader* header, uint32_t flags) {
  uint32_t count = std::min(header->cbSrcLength, header->cbDstLength);
  if (flags & kConvertBlockAlign) count -= count % 4;
  std::memcpy(header->pbDst, header->pbSrc, count);
  header->cbSrcLengthUsed = count;
  header->cbDstLengthUsed = count;
  return kCodecOk;
}

// Suggests for the copier's tag too, but comes later, so is never asked.
int32_t LateSuggest(const uint8_t*, uint32_t, uint8_t* suggested, uint32_t) {
  StoreLe16(suggested, 1);
  StoreLe16(suggested + 2, 7);
  return kCodecOk;
}
int32_t FaultyOpen(const uint8_t* source, uint32_t sourceSize, const uint8_t*, uint32_t,
                   CodecDriverStream** stream, char*, uint32_t) {
  if (Tag(source, sourceSize) != kFaultyTag) return kCodecNotPossible;
  *stream = NewStream();
  return kCodecOk;
}
// Claims one byte more of each buffer than there is.
int32_t FaultyConvert(CodecDriverStream*, CodecStreamHeader* header, uint32_t) {
  header->cbSrcLengthUsed = header->cbSrcLength;
  header->cbDstLengthUsed = header->cbDstLength + 1;
  return kCodecOk;
}

const CodecDriver kRefuser = {UNPAK_CODEC_DRIVER_ABI, "refuser", NoSuggestion, RefuserOpen,
                              NoSize, RefuserConvert, FakeError, CloseFake};
const CodecDriver kCopier = {UNPAK_CODEC_DRIVER_ABI, "copier", CopierSuggest, CopierOpen,
                             CopierSize, CopierConvert, FakeError, CloseFake};
const CodecDriver kFaulty = {UNPAK_CODEC_DRIVER_ABI, "faulty", LateSuggest, FaultyOpen,
                             NoSize, FaultyConvert, FakeError, CloseFake};
const CodecDriver kOldAbi = {UNPAK_CODEC_DRIVER_ABI + 1, "old", NoSuggestion, RefuserOpen,
                             NoSize, RefuserConvert, FakeError, CloseFake};
const CodecDriver kIncomplete = {UNPAK_CODEC_DRIVER_ABI, "incomplete", NoSuggestion, nullptr,
                                 NoSize, RefuserConvert, FakeError, CloseFake};

const CodecDriver* RefuserEntry(uint32_t index) { return index == 0 ? &kRefuser : nullptr; }
const CodecDriver* CopierEntry(uint32_t index) { return index == 0 ? &kCopier : nullptr; }
const CodecDriver* FaultyEntry(uint32_t index) { return index == 0 ? &kFaulty : nullptr; }
const CodecDriver* OldAbiEntry(uint32_t index) { return index == 0 ? &kOldAbi : nullptr; }
const CodecDriver* IncompleteEntry(uint32_t index) { return index == 0 ? &kIncomplete : nullptr; }
const CodecDriver* NullEntry(uint32_t) { return nullptr; }

void RegisterFakes() {
  static const bool registered = CodecDriverAdd(RefuserEntry) && CodecDriverAdd(CopierEntry) &&
                                 CodecDriverAdd(FaultyEntry);
  ASSERT_TRUE(registered);
}

std::vector<uint8_t> Format(uint16_t tag) {
  std::vector<uint8_t> format(18, 0);
  StoreLe16(format.data(), tag);
  return format;
}

std::string OpenFailure(uint16_t sourceTag, uint16_t destinationTag) {
  std::string reason;
  EXPECT_FALSE(CodecStreamOpen(Format(sourceTag), Format(destinationTag), &reason));
  return reason;
}

TEST(CodecService, RefusesBadDriverTables) {
  EXPECT_FALSE(CodecDriverAdd(nullptr));
  EXPECT_FALSE(CodecDriverAdd(NullEntry));
  EXPECT_FALSE(CodecDriverAdd(OldAbiEntry));
  EXPECT_FALSE(CodecDriverAdd(IncompleteEntry));
}

TEST(CodecService, AsksDriversInRegistrationOrder) {
  RegisterFakes();
  std::vector<uint8_t> suggested = Format(1);
  ASSERT_TRUE(CodecFormatSuggest(Format(kCopyTag), suggested));
  EXPECT_EQ(LoadLe16(suggested.data() + 2), 2) << "the first driver that knows one suggests";
  EXPECT_TRUE(CodecFormatSuggest(Format(0x4444), suggested)) << "the late suggester knows all";
  EXPECT_EQ(LoadLe16(suggested.data() + 2), 7);

  std::string reason = "untouched";
  EXPECT_TRUE(CodecStreamOpen(Format(kCopyTag), Format(1), &reason));
  EXPECT_EQ(reason, "untouched");
  EXPECT_EQ(OpenFailure(0x2222, 2), "refuser: no") << "later silent drivers keep the reason";
  EXPECT_EQ(OpenFailure(kCopyTag, 2), "copier: PCM only") << "the last reason wins";
  EXPECT_EQ(OpenFailure(0x4444, 1), "no codec converts format tag 0x4444 to format tag 0x0001");
  EXPECT_FALSE(CodecStreamOpen(Format(0x4444), Format(1), nullptr));

  const int closedBefore = closedStreams;
  CodecStreamOpen(Format(kCopyTag), Format(1), nullptr).reset();
  EXPECT_EQ(closedStreams, closedBefore + 1) << "closing the stream closes the driver's";
}

TEST(CodecService, ConvertsOnlyPreparedHeadersWithinTheirBuffers) {
  RegisterFakes();
  CodecStreamPtr stream = CodecStreamOpen(Format(kCopyTag), Format(1), nullptr);
  ASSERT_TRUE(stream);
  uint32_t size = 0;
  EXPECT_TRUE(CodecStreamSize(*stream, 10, &size, kStreamSizeSource));
  EXPECT_EQ(size, 10u);

  uint8_t source[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  uint8_t destination[10] = {};
  uint8_t other[10] = {};
  CodecStreamHeader header{sizeof header, 0, source, 10, 0, destination, 10, 0};
  EXPECT_FALSE(CodecStreamConvert(*stream, header, 0));
  EXPECT_EQ(CodecStreamError(*stream), "the stream header is not prepared");

  CodecStreamHeader wrongSize = header;
  wrongSize.cbStruct = 84;
  CodecStreamHeader noBuffer = header;
  noBuffer.pbDst = nullptr;
  EXPECT_FALSE(CodecStreamPrepareHeader(*stream, wrongSize));
  EXPECT_FALSE(CodecStreamPrepareHeader(*stream, noBuffer));
  ASSERT_TRUE(CodecStreamPrepareHeader(*stream, header));
  CodecStreamHeader second = header;
  EXPECT_FALSE(CodecStreamPrepareHeader(*stream, second)) << "one prepared header at a time";

  header.cbSrcLength = 7;
  ASSERT_TRUE(CodecStreamConvert(*stream, header, kConvertBlockAlign));
  EXPECT_EQ(header.cbSrcLengthUsed, 4u);
  EXPECT_EQ(header.cbDstLengthUsed, 4u);
  ASSERT_TRUE(CodecStreamConvert(*stream, header, 0));
  EXPECT_EQ(header.cbDstLengthUsed, 7u);
  EXPECT_EQ(std::memcmp(destination, source, 7), 0);

  header.cbSrcLength = 11;
  EXPECT_FALSE(CodecStreamConvert(*stream, header, 0));
  EXPECT_EQ(header.cbSrcLengthUsed, 0u);
  EXPECT_EQ(CodecStreamError(*stream), "the stream header's lengths exceed the prepared buffers");
  header.cbSrcLength = 10;
  header.pbDst = other;
  EXPECT_FALSE(CodecStreamConvert(*stream, header, 0));
  header.pbDst = destination;
  EXPECT_TRUE(CodecStreamConvert(*stream, header, 0));
  EXPECT_EQ(CodecStreamError(*stream), "fake failure") << "otherwise the driver's text";

  CodecStreamUnprepareHeader(*stream, header);
  EXPECT_FALSE(CodecStreamConvert(*stream, header, 0));
}

TEST(CodecService, CatchesDriverClaimingMoreThanTheBuffers) {
  RegisterFakes();
  CodecStreamPtr stream = CodecStreamOpen(Format(kFaultyTag), Format(1), nullptr);
  ASSERT_TRUE(stream);
  uint8_t source[8] = {};
  uint8_t destination[8] = {};
  CodecStreamHeader header{sizeof header, 0, source, 8, 0, destination, 8, 0};
  ASSERT_TRUE(CodecStreamPrepareHeader(*stream, header));
  EXPECT_FALSE(CodecStreamConvert(*stream, header, 0));
  EXPECT_EQ(header.cbSrcLengthUsed, 0u);
  EXPECT_EQ(header.cbDstLengthUsed, 0u);
  EXPECT_EQ(CodecStreamError(*stream),
            "codec faulty reported 8 of 8 source bytes and 9 of 8 destination bytes used");
  CodecStreamUnprepareHeader(*stream, header);
}

}  // namespace
