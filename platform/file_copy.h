#pragma once

#include <cstddef>
#include <cstdint>

namespace unpak {

// Writes all `count` bytes at `offset` of the file open as `fd`, retrying
// short writes. False when a write fails.
bool WriteAllAt(int fd, const uint8_t* data, size_t count, int64_t offset);

// Copies the whole file open as `from` (whatever its offset; it may have no
// name) to the open descriptor `to` (standard output, say). 0 when done;
// otherwise the error, with `writeFailed` telling whether writing to `to`
// failed rather than reading the file.
int CopyFileTo(int from, int to, bool* writeFailed);

}  // namespace unpak
