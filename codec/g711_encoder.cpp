#include "codec/g711_encoder.h"

namespace unpak {

namespace {

// Index of the first segment whose end is at least `value`; 8 when none is.
int Segment(int value, const int16_t (&ends)[8]) {
  int segment = 0;
  while (segment < 8 && value > ends[segment]) ++segment;
  return segment;
}

}  // namespace

uint8_t EncodeMulaw(int16_t sample) {
  constexpr int16_t kSegmentEnds[8] = {0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF};
  constexpr int kClip = 8159;
  constexpr int kBias = 0x21;
  int value = sample >> 2;  // 14-bit magnitude
  uint8_t mask = 0xFF;
  if (value < 0) {
    value = -value;
    mask = 0x7F;
  }
  if (value > kClip) value = kClip;
  value += kBias;
  const int segment = Segment(value, kSegmentEnds);
  if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
  return static_cast<uint8_t>(((segment << 4) | ((value >> (segment + 1)) & 0xF)) ^ mask);
}

uint8_t EncodeAlaw(int16_t sample) {
  constexpr int16_t kSegmentEnds[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
  int value = sample >> 3;  // 13-bit magnitude
  uint8_t mask = 0xD5;
  if (value < 0) {
    value = -value - 1;
    mask = 0x55;
  }
  const int segment = Segment(value, kSegmentEnds);
  if (segment >= 8) return static_cast<uint8_t>(0x7F ^ mask);
  const int mantissa = (value >> (segment < 2 ? 1 : segment)) & 0xF;
  return static_cast<uint8_t>(((segment << 4) | mantissa) ^ mask);
}

}  // namespace unpak
