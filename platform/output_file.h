#pragma once

// Output files that appear whole or not at all: the file is written under a
// temporary name in its final directory and renamed into place only when
// complete. Until then an existing file at the final path is untouched, and a
// pending file that is dropped (or whose run is interrupted) is removed.

#include <memory>
#include <string>

struct PendingOutput {
  std::string finalPath;
  std::string temporaryPath;
};
struct PendingOutputDiscarder {
  void operator()(PendingOutput* output) const;
};
using PendingOutputPtr = std::unique_ptr<PendingOutput, PendingOutputDiscarder>;

// Creates the temporary file beside `finalPath` and puts its descriptor
// (read-write) in `fd`; the caller owns the descriptor. Null, with the
// reason, on failure.
PendingOutputPtr CreatePendingOutput(const std::string& finalPath, int* fd, std::string* reason);

// Renames the finished file into place, replacing what stood there (a
// read-only file included). The file's descriptor must already be closed.
bool CommitPendingOutput(PendingOutputPtr output, std::string* reason);
