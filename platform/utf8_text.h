#pragma once

// UTF-8 as terminals read it: which bytes of a text form printable
// characters, and which would act as controls (C0, DEL, C1).

#include <cstddef>
#include <string>

namespace unpak {

// The length of the well-formed UTF-8 sequence at `at` (1 to 4 bytes), or 0
// when the byte there starts none within `left` bytes.
size_t Utf8SequenceLength(const unsigned char* at, size_t left);

// Whether the well-formed sequence of `length` bytes at `at` is a control:
// a byte below 32, 127, or U+0080 to U+009F.
bool IsControlSequence(const unsigned char* at, size_t length);

// Whether `text` is well-formed UTF-8 holding a C1 control (U+0080 to U+009F).
bool HoldsUtf8C1Control(const std::string& text);

}  // namespace unpak
