#include "archive/name_case.h"

#include <algorithm>

namespace unpak {

std::string FoldedName(const std::string& name) {
  std::string folded = name;
  std::ranges::transform(folded, folded.begin(),
                         [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
  return folded;
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
  return FoldedName(a) == FoldedName(b);
}

}  // namespace unpak
