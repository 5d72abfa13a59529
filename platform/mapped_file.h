#pragma once

// A whole file mapped read-only into memory for as long as it is held.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct MappedFile {
  const uint8_t* data = nullptr;  // null for an empty file
  size_t size = 0;
  int fd = -1;
};
struct MappedFileCloser {
  void operator()(MappedFile* file) const;
};
using MappedFilePtr = std::unique_ptr<MappedFile, MappedFileCloser>;

// Null, with the reason, when the file cannot be opened, is not a regular
// file or cannot be mapped.
MappedFilePtr MapFileReadOnly(const char* path, std::string* reason);
