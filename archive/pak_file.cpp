#include "archive/pak_file.h"

#include "archive/pak_reader.h"

namespace unpak {

MappedFilePtr OpenPakFile(const char* path, PakHeader* header, std::string* reason) {
  MappedFilePtr file = MapFileReadOnly(path, reason);
  if (!file || !ReadPakHeader(file->data, file->size, header, reason)) return nullptr;
  if (MappedBytesLost(file->data, kPakHeaderSize)) {
    *reason = "it changed while being read";
    return nullptr;
  }
  return file;
}

}  // namespace unpak
