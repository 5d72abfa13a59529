#include "platform/utf8_text.h"

namespace unpak {

namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

size_t Utf8SequenceLength(const unsigned char* at, size_t left) {
  if (left == 0) return 0;
  const unsigned char lead = at[0];
  if (lead < 0x80) return 1;
  // The second byte's range excludes overlong forms, surrogates and code
  // points past U+10FFFF.
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (left < length || at[1] < low || at[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (!IsContinuation(at[i])) return 0;
  }
  return length;
}

bool IsControlSequence(const unsigned char* at, size_t length) {
  if (length == 1) return at[0] < 32 || at[0] == 127;
  return length == 2 && at[0] == 0xC2 && at[1] < 0xA0;
}

bool HoldsUtf8C1Control(const std::string& text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  bool holds = false;
  for (size_t at = 0; at < text.size();) {
    const size_t length = Utf8SequenceLength(bytes + at, text.size() - at);
    if (length == 0) return false;
    holds = holds || (length == 2 && IsControlSequence(bytes + at, length));
    at += length;
  }
  return holds;
}

}  // namespace unpak
