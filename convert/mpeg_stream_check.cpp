#include "convert/mpeg_stream_check.h"

#include <optional>

#include "convert/mpeg_frame_header.h"

namespace {

// A frame starts at `at` when its header is one and the header after it (or
// the end of the data) agrees with it, as a resyncing decoder checks.
std::optional<MpegFrameHeader> FrameAt(const uint8_t* data, size_t size, size_t at) {
  if (size - at < kMpegFrameHeaderSize) return std::nullopt;
  std::optional<MpegFrameHeader> header = ParseMpegFrameHeader(data + at);
  if (!header) return std::nullopt;
  const size_t next = at + header->length;
  if (next + kMpegFrameHeaderSize > size) return header;
  std::optional<MpegFrameHeader> following = ParseMpegFrameHeader(data + next);
  if (!following || following->rate != header->rate || following->mpeg1 != header->mpeg1) {
    return std::nullopt;
  }
  return header;
}

}  // namespace

MpegStreamDamage CheckMpegStream(const uint8_t* data, size_t size) {
  MpegStreamDamage damage;
  size_t at = 0;
  bool inGap = false;
  while (at < size) {
    if (size - at >= kMpegFrameHeaderSize && data[at] == 0xFF && (data[at + 1] & 0xE0) == 0xE0 &&
        (data[at + 2] >> 4) == 0 && (data[at + 1] & 0x06) == 0x02) {
      damage.freeFormat = true;
      return damage;
    }
    std::optional<MpegFrameHeader> frame = FrameAt(data, size, at);
    if (!frame) {
      if (!inGap) ++damage.gaps;
      inGap = true;
      ++damage.skippedBytes;
      ++at;
      continue;
    }
    inGap = false;
    if (frame->length > size - at) {
      damage.endsInsideFrame = true;
      return damage;
    }
    ++damage.frames;
    at += frame->length;
  }
  return damage;
}

std::vector<std::string> DescribeDamage(const MpegStreamDamage& damage) {
  std::vector<std::string> problems;
  if (damage.gaps > 0) {
    problems.push_back("the decoder had to skip " + std::to_string(damage.skippedBytes) +
                       " bytes that are no MPEG frame, in " + std::to_string(damage.gaps) +
                       (damage.gaps == 1 ? " place" : " places"));
  }
  if (damage.endsInsideFrame) problems.push_back("the MP3 stream ends inside a frame");
  if (damage.freeFormat) problems.push_back("free-format frames, whose length is not stated");
  return problems;
}
