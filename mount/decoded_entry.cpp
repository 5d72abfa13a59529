#include "mount/decoded_entry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <span>

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

// Whether what was read of the archive could be trusted: it is unchanged and
// none of `read` (parts of its mapping) read as zeros for want of the file.
// Otherwise false, with the reason.
bool ArchiveStillBacks(const OpenedArchive& archive, int archiveFd,
                       std::initializer_list<std::span<const uint8_t>> read, std::string* reason) {
  const bool backed =
      ArchiveUnchanged(archive, archiveFd) &&
      std::none_of(read.begin(), read.end(), [](std::span<const uint8_t> bytes) {
        return bytes.data() != nullptr && MappedBytesLost(bytes.data(), bytes.size());
      });
  if (!backed) *reason = "the archive changed or cannot be read any more";
  return backed;
}

// The entry's file with its audio left to be decoded as it is read; null
// when its stream cannot be decoded in segments, or the file would not have
// the size the entry states.
std::unique_ptr<PartialAudio> WriteWithoutAudio(const EntryView& view, const EntryFacts& facts,
                                                OutputKeeping keeping, EntryResult* result,
                                                std::string* reason) {
  std::unique_ptr<PartialAudio> partial = PlanPartialAudio(
      facts, CompressedAudio(view.payload, view.payloadSize, facts.layout));
  struct stat info;
  if (!partial ||
      !WriteEntryWithoutAudio(facts, view.payload, view.payloadSize, keeping, result,
                              &partial->audioStart, reason) ||
      fstat(result->unnamedOutput->fd, &info) != 0 ||
      static_cast<uint64_t>(info.st_size) != facts.outputSize) {
    *result = EntryResult{};
    return nullptr;
  }
  return partial;
}

}  // namespace

std::unique_ptr<DecodedEntry> DecodeArchiveEntry(const OpenedArchive& archive, int archiveFd,
                                                 uint32_t index, bool inMemory, bool onDemand,
                                                 std::string* reason) {
  PakEntry entry;
  EntryView view;
  EntryFacts facts;
  EntryResult result;
  const OutputKeeping keeping = inMemory ? OutputKeeping::kInMemory : OutputKeeping::kUnnamed;
  std::unique_ptr<PartialAudio> partial;
  bool ok = ArchiveUnchanged(archive, archiveFd) &&
            InspectArchiveEntry(archive, index, &entry, &view, &facts, reason);
  if (ok && onDemand) partial = WriteWithoutAudio(view, facts, keeping, &result, reason);
  if (ok && !partial) {
    ok = UnpackEntry(facts, view.payload, view.payloadSize, keeping, &result, reason);
  }
  const uint8_t* record =
      archive.data + archive.header.entryTableOffset + uint64_t{index} * kPakEntrySize;
  if (!ArchiveStillBacks(archive, archiveFd,
                         {{record, kPakEntrySize}, {view.payload, view.payloadSize}}, reason) ||
      !ok) {
    return nullptr;
  }
  struct stat info;
  if (fstat(result.unnamedOutput->fd, &info) != 0) {
    *reason = std::string("cannot read the decoded file's size: ") + std::strerror(errno);
    return nullptr;
  }
  auto decoded = std::make_unique<DecodedEntry>();
  decoded->size = static_cast<uint64_t>(info.st_size);
  decoded->file = std::move(result.unnamedOutput);
  decoded->inMemory = inMemory;
  decoded->partial = std::move(partial);
  return decoded;
}

bool FillDecoded(const OpenedArchive& archive, int archiveFd, const DecodedEntry& decoded,
                 uint64_t begin, uint64_t end, std::string* reason) {
  if (!decoded.partial) return true;
  return FillAudio(*decoded.partial, decoded.file->fd, begin, end,
                   [&](std::string* lost) {
                     return ArchiveStillBacks(archive, archiveFd, {decoded.partial->stream}, lost);
                   },
                   reason);
}

}  // namespace unpak
