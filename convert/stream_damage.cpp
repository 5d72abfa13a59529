#include "convert/stream_damage.h"

#include <algorithm>
#include <optional>

#include "platform/mpeg_layer3.h"

namespace unpak {

namespace {

// The header at `p` when it is one with a stated frame length.
std::optional<Layer3Header> FixedLengthHeader(const uint8_t* p) {
  std::optional<Layer3Header> header = ReadLayer3Header(p);
  if (header && header->freeFormat) return std::nullopt;
  return header;
}

// A frame starts at `at` when its header is one and the header after it (or
// the end of the data) agrees with it, as a resyncing decoder checks.
std::optional<Layer3Header> FrameAt(const uint8_t* data, size_t size, size_t at) {
  if (size - at < kLayer3HeaderSize) return std::nullopt;
  std::optional<Layer3Header> header = FixedLengthHeader(data + at);
  if (!header) return std::nullopt;
  const size_t next = at + header->length;
  if (next + kLayer3HeaderSize > size) return header;
  std::optional<Layer3Header> following = FixedLengthHeader(data + next);
  if (!following || following->rate != header->rate || following->mpeg1 != header->mpeg1) {
    return std::nullopt;
  }
  return header;
}

}  // namespace

StreamDamage FindStreamDamage(const uint8_t* data, size_t size) {
  StreamDamage damage;
  size_t at = 0;
  bool inGap = false;
  while (at < size) {
    if (size - at >= kLayer3HeaderSize && data[at] == 0xFF && (data[at + 1] & 0xE0) == 0xE0 &&
        (data[at + 2] >> 4) == 0 && (data[at + 1] & 0x06) == 0x02) {
      damage.freeFormat = true;
      return damage;
    }
    std::optional<Layer3Header> frame = FrameAt(data, size, at);
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

std::vector<std::string> DescribeDamage(const StreamDamage& damage) {
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

StreamDamage FindEntryStreamDamage(const uint8_t* payload, uint32_t payloadSize, int64_t dataStart,
                                   uint32_t compressedSize) {
  const int64_t available = int64_t{payloadSize} - dataStart;
  const auto size = static_cast<size_t>(std::clamp<int64_t>(available, 0, compressedSize));
  return FindStreamDamage(payload + dataStart, size);
}

}  // namespace unpak
