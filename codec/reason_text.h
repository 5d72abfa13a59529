#pragma once

#include <string>

namespace unpak {

// printf-style formatting of a refusal or failure reason.
std::string ReasonText(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

}  // namespace unpak
