#pragma once

#include <memory>
#include <string>

namespace unpak {

// Creates a file without a name in `directory`: no other file can collide
// with it, and it disappears when its descriptor is closed, however the
// process ends. Returns the read-write descriptor, or -1 with the reason.
int CreateScratchFile(const std::string& directory, std::string* reason);

// Creates a file that lives in memory only (a memfd), read-write, gone when
// its descriptors are closed. -1, with the reason, when it cannot.
int CreateMemoryFile(std::string* reason);

// A descriptor that is closed when its holder lets it go.
struct OpenFile {
  int fd = -1;
};
struct OpenFileCloser {
  void operator()(OpenFile* file) const;
};
using OpenFilePtr = std::unique_ptr<OpenFile, OpenFileCloser>;

}  // namespace unpak
