#include "app/unpack_archive.h"

#include <string>

#include "archive/pak_reader.h"
#include "convert/unpack_entry.h"
#include "platform/console.h"
#include "platform/mapped_file.h"

namespace {

void ReportEntryFailure(uint32_t index, const char* path, const std::string& reason) {
  if (path != nullptr) {
    ConsoleError("entry %u (%s): %s", index, path, reason.c_str());
  } else {
    ConsoleError("entry %u: %s", index, reason.c_str());
  }
}

// Unpacks the entry at `index`; false, after saying why, when it failed.
bool UnpackIndexedEntry(const MappedFile& archive, const PakHeader& header, uint32_t index) {
  const PakEntry entry = ReadPakEntry(archive.data, header, index);
  EntryView view;
  std::string reason;
  if (!ResolvePakEntry(archive.data, archive.size, header, entry, &view, &reason)) {
    ReportEntryFailure(index, view.path, reason);
    return false;
  }
  ConsolePrint("Decompressing %s : ", view.path);
  const bool ok = UnpackEntry(view.path, view.targetFormat, view.payload, view.payloadSize, &reason);
  ConsolePrint("\n");
  if (!ok) ReportEntryFailure(index, view.path, reason);
  return ok;
}

}  // namespace

int UnpackArchive(const char* archivePath) {
  std::string reason;
  MappedFilePtr archive = MapFileReadOnly(archivePath, &reason);
  PakHeader header;
  if (!archive || !ReadPakHeader(archive->data, archive->size, &header, &reason)) {
    ConsoleError("%s: %s", archivePath, reason.c_str());
    return -1;
  }
  uint32_t failures = 0;
  for (uint32_t index = 0; index < header.entryCount; ++index) {
    if (!UnpackIndexedEntry(*archive, header, index)) ++failures;
  }
  if (failures > 0) {
    ConsoleError("%u of %u entries failed", failures, header.entryCount);
    return 1;
  }
  return 0;
}
