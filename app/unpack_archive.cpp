#include "app/unpack_archive.h"

#include <string>

#include "app/free_space.h"
#include "app/output_path.h"
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
bool UnpackIndexedEntry(const uint8_t* archive, size_t size, const PakHeader& header,
                        uint32_t index) {
  const PakEntry entry = ReadPakEntry(archive, header, index);
  EntryView view;
  std::string reason;
  if (!ResolvePakEntry(archive, size, header, entry, &view, &reason) ||
      !CheckOutputPath(view.path, &reason)) {
    ReportEntryFailure(index, view.path, reason);
    return false;
  }
  ConsolePrint("Decompressing %s : ", view.path);
  const bool ok =
      UnpackEntry(view.path, view.targetFormat, view.payload, view.payloadSize, &reason);
  ConsolePrint("\n");
  if (!ok) ReportEntryFailure(index, view.path, reason);
  return ok;
}

}  // namespace

int UnpackArchive(const char* archivePath) {
  std::string reason;
  MappedFilePtr archive = MapFileReadOnly(archivePath, &reason);
  if (!archive) {
    ConsoleError("%s: %s", archivePath, reason.c_str());
    return -1;
  }
  return UnpackArchiveBytes(archive->data, archive->size, archivePath);
}

int UnpackArchiveBytes(const uint8_t* archive, size_t size, const char* name) {
  std::string reason;
  PakHeader header;
  if (!ReadPakHeader(archive, size, &header, &reason)) {
    ConsoleError("%s: %s", name, reason.c_str());
    return -1;
  }
  if (!CheckFreeSpace(header.totalUnpackedSize)) return -1;
  uint32_t failures = 0;
  for (uint32_t index = 0; index < header.entryCount; ++index) {
    if (!UnpackIndexedEntry(archive, size, header, index)) ++failures;
  }
  if (failures > 0) {
    ConsoleError("%u of %u entries failed", failures, header.entryCount);
    return 1;
  }
  return 0;
}
