#pragma once

namespace unpak {

// Copies the whole file open as `from` (whatever its offset; it may have no
// name) to the open descriptor `to` (standard output, say). 0 when done;
// otherwise the error, with `writeFailed` telling whether writing to `to`
// failed rather than reading the file.
int CopyFileTo(int from, int to, bool* writeFailed);

}  // namespace unpak
