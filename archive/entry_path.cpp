#include "archive/entry_path.h"

#include <algorithm>

#include "platform/utf8_text.h"

namespace unpak {

namespace {

bool Refuse(const std::string& why, std::string* reason) {
  *reason = why;
  return false;
}

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

// Refuses paths that name something outside the current directory by their
// form alone: absolute ones in any of the archive's spellings (leading
// backslash, network share, drive letter) and any with a ".." component.
// A forward slash would be a separator here but is not one in the archive,
// so it is refused rather than read either way. Two backslashes in a row
// leave an empty component; it is refused too, rather than read as one
// separator, so every accepted path has exactly one reading. A "." folder
// on the way stays where it is and is accepted; as the file name it is not.

bool CheckOutputPathForm(const std::string& path, std::string* reason) {
  if (path.empty()) return Refuse("empty path", reason);
  if (path.rfind("\\\\", 0) == 0)
    return Refuse("absolute path: network share prefix \"\\\\\"", reason);
  if (path[0] == '\\') return Refuse("absolute path: it starts with a backslash", reason);
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':') {
    return Refuse("absolute path: drive prefix \"" + path.substr(0, 2) + "\"", reason);
  }
  if (path.find('/') != std::string::npos) return Refuse("\"/\" is not allowed in a path", reason);
  // No file name that the archives' own system can create holds these.
  // Bytes from 128 up may be a legacy code page's and are written as they
  // are; a name in UTF-8 must hold no C1 control either.
  for (const unsigned char c : path) {
    if (c < 32) return Refuse("control character in the path", reason);
  }
  if (HoldsUtf8C1Control(path)) return Refuse("control character in the path", reason);

  size_t start = 0;
  while (true) {
    const size_t end = path.find('\\', start);
    const bool isFileName = end == std::string::npos;
    const std::string component = path.substr(start, isFileName ? std::string::npos : end - start);
    if (component == "..") return Refuse("path climbs out of the folder with \"..\"", reason);
    if (isFileName) {
      if (component.empty()) return Refuse("empty file name: the path ends in a backslash", reason);
      if (component == ".") return Refuse("\".\" is not a file name", reason);
      return true;
    }
    if (component.empty()) {
      return Refuse("empty path component: two backslashes in a row", reason);
    }
    start = end + 1;
  }
}

std::string NativePath(const std::string& archivePath) {
  std::string native = archivePath;
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

}  // namespace unpak
