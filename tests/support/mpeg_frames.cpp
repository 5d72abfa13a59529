#include "tests/support/mpeg_frames.h"

namespace {

constexpr int kMpeg1Bitrates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1};
constexpr int kLsfBitrates[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1};
constexpr int kMpeg1Rates[4] = {44100, 48000, 32000, -1};

// Header bits that stay the same over a stream: sync, version, layer, rate.
constexpr uint32_t kFixedBits = 0xFFFE0C00;

uint32_t HeaderWord(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

// Base length (without the padding byte) of free-format frames: the distance
// from the first header to the next header with the same fixed bits that is
// itself followed by such a header (or the stream's end).
size_t FreeFormatBaseLength(const std::vector<uint8_t>& stream, size_t first,
                            const MpegFrameHeader& header) {
  const uint32_t fixed = HeaderWord(stream.data() + first) & kFixedBits;
  for (size_t at = first + 4; at + 4 <= stream.size(); ++at) {
    MpegFrameHeader next;
    if ((HeaderWord(stream.data() + at) & kFixedBits) != fixed ||
        !ParseMpegFrameHeader(stream.data() + at, &next) || next.bitrateKbps != 0) {
      continue;
    }
    const size_t base = at - first - (header.padding ? 1 : 0);
    const size_t after = at + base + (next.padding ? 1 : 0);
    if (after == stream.size() ||
        (after + 4 <= stream.size() && (HeaderWord(stream.data() + after) & kFixedBits) == fixed)) {
      return base;
    }
  }
  return 0;
}

}  // namespace

bool ParseMpegFrameHeader(const uint8_t* p, MpegFrameHeader* header) {
  const uint32_t word = HeaderWord(p);
  if ((word & 0xFFE00000) != 0xFFE00000) return false;
  const int versionBits = (word >> 19) & 3;
  const int layerBits = (word >> 17) & 3;
  const int bitrateIndex = (word >> 12) & 15;
  const int rateIndex = (word >> 10) & 3;
  if (versionBits == 1 || layerBits != 1 || bitrateIndex == 15 || rateIndex == 3) return false;

  MpegFrameHeader h;
  h.version = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
  const bool mpeg1 = h.version == 10;
  h.bitrateKbps = mpeg1 ? kMpeg1Bitrates[bitrateIndex] : kLsfBitrates[bitrateIndex];
  h.sampleRate = kMpeg1Rates[rateIndex] / (mpeg1 ? 1 : h.version == 20 ? 2 : 4);
  h.padding = ((word >> 9) & 1) != 0;
  h.channelMode = (word >> 6) & 3;
  h.modeExtension = (word >> 4) & 3;
  h.channels = h.channelMode == 3 ? 1 : 2;
  h.samplesPerFrame = mpeg1 ? 1152 : 576;
  if (h.bitrateKbps != 0) {
    h.length = static_cast<size_t>((mpeg1 ? 144000 : 72000) * h.bitrateKbps / h.sampleRate) +
               (h.padding ? 1 : 0);
  }
  *header = h;
  return true;
}

std::vector<MpegFrame> ScanMpegFrames(const std::vector<uint8_t>& stream) {
  std::vector<MpegFrame> frames;
  size_t freeBase = 0;
  size_t at = 0;
  while (at + 4 <= stream.size()) {
    MpegFrame frame;
    frame.offset = at;
    if (!ParseMpegFrameHeader(stream.data() + at, &frame.header)) break;
    frame.length = frame.header.length;
    if (frame.length == 0) {
      if (freeBase == 0) freeBase = FreeFormatBaseLength(stream, at, frame.header);
      if (freeBase == 0) break;
      frame.length = freeBase + (frame.header.padding ? 1 : 0);
    }
    if (frame.length > stream.size() - at) break;
    frames.push_back(frame);
    at += frame.length;
  }
  return frames;
}
