#pragma once

// Output files that appear whole or not at all: the file is written without
// a name (O_TMPFILE) where the file system allows, under a temporary name
// elsewhere, and gets its final name only when complete. Until then an
// existing file at the final path is untouched, and a pending file that is
// dropped (or whose run is interrupted, or killed while unnamed) is gone.

#include <sys/types.h>

#include <memory>
#include <string>

namespace unpak {

struct PendingOutput {
  int fd = -1;                // the file's own descriptor, apart from the caller's
  std::string temporaryPath;  // empty while the file has no name
};
struct PendingOutputDiscarder {
  void operator()(PendingOutput* output) const;
};
using PendingOutputPtr = std::unique_ptr<PendingOutput, PendingOutputDiscarder>;

// Creates a pending file in `directory` and puts a descriptor of it
// (read-write) in `fd`; the caller owns that descriptor. Null, with the
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

// As PlacePendingOutput, for a file that replaces the user's own: the file
// is synced to disk before it takes the name, and the folder after, so that
// a crash or power loss leaves the old file or the new one, never a part.
bool PlacePendingOutputDurably(PendingOutputPtr output, const std::string& finalPath,
                               std::string* reason);

// As PlacePendingOutput, as `name` in the open directory `directory`, which a
// later change of that directory's path (a folder swapped for a link) cannot
// redirect; `finalPath` names the file in messages.
bool PlacePendingOutputIn(PendingOutputPtr output, int directory, const std::string& name,
                          const std::string& finalPath, std::string* reason);

}  // namespace unpak
