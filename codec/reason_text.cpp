#include "codec/reason_text.h"

#include <cstdarg>
#include <cstdio>

namespace unpak {

std::string ReasonText(const char* pattern, ...) {
  char text[256];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(text, sizeof text, pattern, args);
  va_end(args);
  return text;
}

}  // namespace unpak
