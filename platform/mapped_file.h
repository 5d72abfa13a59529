#pragma once

// A whole file mapped read-only into memory for as long as it is held.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace unpak {

struct MappedFile {
  const uint8_t* data = nullptr;  // null for an empty file
  size_t size = 0;
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;
};
struct MappedFileCloser {
  void operator()(MappedFile* file) const;
};
using MappedFilePtr = std::unique_ptr<MappedFile, MappedFileCloser>;

// Null, with the reason, when the file cannot be opened, is not a regular
// file or cannot be mapped. A read of the mapping that the file can no longer
// back (it shrank, or an I/O error) yields zero bytes from there to the
// mapping's end instead of ending the process: see MappedBytesLost. Files
// mapped at once on several threads are each guarded so.
MappedFilePtr MapFileReadOnly(const char* path, std::string* reason);

// Whether any of the `length` bytes at `start`, inside a guarded mapping,
// have read as zeros because the file could not back them.
bool MappedBytesLost(const void* start, size_t length);

}  // namespace unpak
