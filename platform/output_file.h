#pragma once

// Output files that appear whole or not at all: the file is written under a
// temporary name and moved into place only when complete. Until then an
// existing file at the final path is untouched, and a pending file that is
// dropped (or whose run is interrupted) is removed.

#include <sys/types.h>

#include <memory>
#include <string>

namespace unpak {

struct PendingOutput {
  std::string temporaryPath;
};
struct PendingOutputDiscarder {
  void operator()(PendingOutput* output) const;
};
using PendingOutputPtr = std::unique_ptr<PendingOutput, PendingOutputDiscarder>;

// Creates a temporary file in `directory` and puts its descriptor
// (read-write) in `fd`; the caller owns the descriptor. Null, with the
// reason, on failure.
PendingOutputPtr CreatePendingOutput(const std::string& directory, int* fd, std::string* reason);

// A file that outputs must never replace (the archive being read), by its
// device and inode, whatever names it has.
void ProtectFromOutputs(dev_t device, ino_t inode);

// Moves the finished file to `finalPath`, replacing what stood there (a
// read-only file included, a protected file never). The file's descriptor
// must already be closed. False, with the reason, when it cannot be placed;
// the temporary file is then removed.
bool PlacePendingOutput(PendingOutputPtr output, const std::string& finalPath, std::string* reason);

// As PlacePendingOutput, as `name` in the open directory `directory`, which a
// later change of that directory's path (a folder swapped for a link) cannot
// redirect; `finalPath` names the file in messages.
bool PlacePendingOutputIn(PendingOutputPtr output, int directory, const std::string& name,
                          const std::string& finalPath, std::string* reason);

}  // namespace unpak
