#include "mount/decoded_entry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "convert/unpack_entry.h"
#include "platform/mapped_file.h"
#include "run/entry_inspection.h"

namespace unpak {

namespace {

// Whether the archive file still has the size and modification time it had
// when it was opened: a file rewritten in place may read differently.
bool ArchiveUnchanged(const OpenedArchive& archive, int archiveFd) {
  struct stat info;
  return fstat(archiveFd, &info) == 0 && static_cast<size_t>(info.st_size) == archive.size &&
         info.st_mtim.tv_sec == archive.modified.tv_sec &&
         info.st_mtim.tv_nsec == archive.modified.tv_nsec;
}

}  // namespace

std::unique_ptr<DecodedEntry> DecodeArchiveEntry(const OpenedArchive& archive, int archiveFd,
                                                 uint32_t index, bool inMemory,
                                                 std::string* reason) {
  PakEntry entry;
  EntryView view;
  EntryFacts facts;
  EntryResult result;
  const bool ok = ArchiveUnchanged(archive, archiveFd) &&
                  InspectArchiveEntry(archive, index, &entry, &view, &facts, reason) &&
                  UnpackEntry(facts, view.payload, view.payloadSize,
                              inMemory ? OutputKeeping::kInMemory : OutputKeeping::kUnnamed,
                              &result, reason);
  const uint8_t* record =
      archive.data + archive.header.entryTableOffset + uint64_t{index} * kPakEntrySize;
  if (!ArchiveUnchanged(archive, archiveFd) || MappedBytesLost(record, kPakEntrySize) ||
      (view.payload != nullptr && MappedBytesLost(view.payload, view.payloadSize))) {
    *reason = "the archive changed or cannot be read any more";
    return nullptr;
  }
  if (!ok) return nullptr;
  struct stat info;
  if (fstat(result.unnamedOutput->fd, &info) != 0) {
    *reason = std::string("cannot read the decoded file's size: ") + std::strerror(errno);
    return nullptr;
  }
  auto decoded = std::make_unique<DecodedEntry>();
  decoded->size = static_cast<uint64_t>(info.st_size);
  decoded->file = std::move(result.unnamedOutput);
  decoded->inMemory = inMemory;
  return decoded;
}

}  // namespace unpak
