#include "mount/decoded_entry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
                                                 uint32_t index, std::string* reason) {
  PakEntry entry;
  EntryView view;
  EntryFacts facts;
  EntryResult result;
  const bool ok = ArchiveUnchanged(archive, archiveFd) &&
                  InspectArchiveEntry(archive, index, &entry, &view, &facts, reason) &&
                  UnpackEntry(facts, view.payload, view.payloadSize, OutputKeeping::kUnnamed,
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
  return decoded;
}

bool MoveIntoMemory(DecodedEntry& decoded) {
  std::vector<uint8_t> bytes(decoded.size);
  for (uint64_t done = 0; done < decoded.size;) {
    const ssize_t read = pread(decoded.file->fd, bytes.data() + done, decoded.size - done,
                               static_cast<off_t>(done));
    if (read <= 0) return false;
    done += static_cast<uint64_t>(read);
  }
  decoded.bytes = std::move(bytes);
  decoded.file.reset();
  return true;
}

ssize_t ReadDecoded(const DecodedEntry& decoded, char* buffer, size_t size, uint64_t offset) {
  if (offset >= decoded.size) return 0;
  const size_t count = static_cast<size_t>(std::min<uint64_t>(size, decoded.size - offset));
  if (!decoded.file) {
    std::memcpy(buffer, decoded.bytes.data() + offset, count);
    return static_cast<ssize_t>(count);
  }
  size_t done = 0;
  while (done < count) {
    const ssize_t read =
        pread(decoded.file->fd, buffer + done, count - done, static_cast<off_t>(offset + done));
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) return -errno;
    if (read == 0) return -EIO;
    done += static_cast<size_t>(read);
  }
  return static_cast<ssize_t>(count);
}

}  // namespace unpak
