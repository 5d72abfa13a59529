#include "create/archive_steps.h"

#include <filesystem>
#include <limits>

#include "platform/console.h"

namespace unpak {

namespace {

std::string FolderOf(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

}  // namespace

void ReportProblem(const std::string& path, const std::string& reason) {
  // Reasons may quote a file's own bytes (a chunk ID, say).
  ConsoleError("%s: %s", DisplayName(path).c_str(), DisplayName(reason).c_str());
}

MappedFilePtr MapInput(const std::string& path, const struct stat* archive, std::string* reason) {
  MappedFilePtr file = MapFileReadOnly(path.c_str(), reason);
  if (file && archive != nullptr && file->device == archive->st_dev &&
      file->inode == archive->st_ino) {
    *reason = "it is the archive to be written";
    return nullptr;
  }
  return file;
}

bool InputUnchanged(const MappedFile& file, std::string* reason) {
  if (!MappedBytesLost(file.data, file.size)) return true;
  *reason = "it changed while being read, or an I/O error";
  return false;
}

bool PlanNewEntry(const InputFile& input, const CreateSettings& settings,
                  const struct stat* archive, CodecDelays* delays, PlannedEntry* entry) {
  entry->input = input;
  std::string reason;
  MappedFilePtr file = MapInput(input.path, archive, &reason);
  if (!file || !PlanWaveEntry(file->data, file->size, settings, delays, &entry->plan, &reason) ||
      !InputUnchanged(*file, &reason)) {
    ReportProblem(input.path, reason);
    return false;
  }
  return true;
}

bool UnpackedSizeFits(const std::string& path, uint64_t totalUnpackedSize) {
  if (totalUnpackedSize <= std::numeric_limits<uint32_t>::max()) return true;
  ReportProblem(path, "the unpacked files would take " + std::to_string(totalUnpackedSize) +
                          " bytes, more than an archive's header can state (4 GiB)");
  return false;
}

const struct stat* ReplacedArchive(const ArchiveOutput& output) {
  return output.replaced.exists ? &output.replaced.info : nullptr;
}

bool OpenArchiveOutput(const std::string& path, ArchiveOutput* output) {
  // The pending file comes first: a folder that cannot take the archive
  // shows before any work.
  std::string reason;
  int fd = -1;
  if (OpenReplacedFile(path, &output->replaced, &reason)) {
    output->pending = CreatePendingOutput(FolderOf(output->replaced.path), &fd, &reason);
  }
  if (output->pending) {
    KeepOwnership(output->replaced, fd);
    output->file = OpenChunkFileOnDisk(fd);
  }
  if (!output->pending || !output->file) {
    ReportProblem(path, output->pending ? "cannot write the temporary file" : reason);
    return false;
  }
  return true;
}

bool PlaceArchiveOutput(ArchiveOutput& output, const std::string& path) {
  std::string reason;
  if (!ChunkFileClose(std::move(output.file))) {
    reason = "writing the archive failed (disk full or I/O error)";
  } else if (ReplacedFileUnchanged(output.replaced, &reason)) {
    PlacePendingOutputDurably(std::move(output.pending), output.replaced.path, &reason);
  }
  if (!reason.empty()) {
    ReportProblem(path, reason);
    return false;
  }
  return true;
}

}  // namespace unpak
