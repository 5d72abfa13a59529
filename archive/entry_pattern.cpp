#include "archive/entry_pattern.h"

#include <fnmatch.h>
#include <locale.h>

#include <algorithm>

namespace unpak {

namespace {

// fnmatch in C.UTF-8 on this thread: with FNM_CASEFOLD it folds any letter
// of valid UTF-8 text, and falls back to bytes for text that is not.
bool MatchesInUtf8(const std::string& pattern, const std::string& text) {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  const locale_t previous = utf8 != static_cast<locale_t>(0) ? uselocale(utf8) : nullptr;
  const bool matches = fnmatch(pattern.c_str(), text.c_str(), FNM_CASEFOLD) == 0;
  if (previous != nullptr) uselocale(previous);
  return matches;
}

// The pattern with its wildcards and backslashes escaped: it matches itself only.
std::string Literal(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '\\' || c == '*' || c == '?' || c == '[') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

}  // namespace

bool EntryPathMatches(const std::string& pattern, const std::string& storedPath) {
  if (MatchesInUtf8(Literal(pattern), storedPath)) return true;
  std::string slashed = storedPath;
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  return MatchesInUtf8(pattern, slashed);
}

}  // namespace unpak
