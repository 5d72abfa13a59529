#pragma once

#include <string>

namespace unpak {

// Copies the whole file at `path` to the open descriptor `to` (standard
// output, say). 0 when done; otherwise the error, with `writeFailed` telling
// whether writing to `to` failed rather than reading the file.
int CopyFileTo(const std::string& path, int to, bool* writeFailed);

}  // namespace unpak
