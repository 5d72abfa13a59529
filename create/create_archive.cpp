#include "create/create_archive.h"

#include <sys/stat.h>

#include <filesystem>
#include <limits>

#include "archive/pak_file_writer.h"
#include "create/input_files.h"
#include "platform/console.h"
#include "platform/mapped_file.h"
#include "platform/output_file.h"

namespace {

struct PlannedEntry {
  InputFile input;
  WaveEntryPlan plan;
};

void Report(const std::string& path, const std::string& reason) {
  ConsoleError("%s: %s", DisplayName(path).c_str(), reason.c_str());
}

std::string FolderOf(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

// Maps the input, refusing the archive's own file.
MappedFilePtr MapInput(const std::string& path, const struct stat* archive, std::string* reason) {
  MappedFilePtr file = MapFileReadOnly(path.c_str(), reason);
  if (file && archive != nullptr && file->device == archive->st_dev &&
      file->inode == archive->st_ino) {
    *reason = "it is the archive to be written";
    return nullptr;
  }
  return file;
}

bool Unchanged(const MappedFile& file, std::string* reason) {
  if (!MappedBytesLost(file.data, file.size)) return true;
  *reason = "it changed while being read, or an I/O error";
  return false;
}

// Plans every input, reporting each that cannot be stored; false if any.
bool PlanEntries(const std::vector<InputFile>& inputs, const CreateRequest& request,
                 const struct stat* archive, std::vector<PlannedEntry>* entries,
                 uint64_t* totalUnpackedSize) {
  CodecDelays delays;
  bool ok = true;
  for (const InputFile& input : inputs) {
    PlannedEntry entry{input, {}};
    std::string reason;
    MappedFilePtr file = MapInput(input.path, archive, &reason);
    if (!file ||
        !PlanWaveEntry(file->data, file->size, request.settings, &delays, &entry.plan, &reason) ||
        !Unchanged(*file, &reason)) {
      Report(input.path, reason);
      ok = false;
      continue;
    }
    *totalUnpackedSize += entry.plan.outputSize;
    entries->push_back(std::move(entry));
  }
  return ok;
}

// Encodes one planned entry and writes its payload, on its transcript line.
bool WriteEntry(PlannedEntry& entry, const std::string& archivePath, const struct stat* archive,
                PakFileWriter& writer, bool* inputFault) {
  ConsolePrint("Compressing %s : ", DisplayName(entry.input.name).c_str());
  std::string reason;
  MappedFilePtr file = MapInput(entry.input.path, archive, &reason);
  *inputFault = !file || !EncodeWaveEntry(file->data, file->size, &entry.plan, &reason) ||
                !Unchanged(*file, &reason);
  bool ok = !*inputFault && WritePakPayload(writer, BuildEntryPayload(entry.plan.parts), &reason);
  entry.plan.parts = {};
  ConsoleEndLine("\n");
  if (!ok) Report(*inputFault ? entry.input.path : archivePath, reason);
  return ok;
}

}  // namespace

CreateStatus CreateArchive(const CreateRequest& request) {
  std::vector<InputFile> inputs;
  std::vector<std::string> problems;
  if (!ListInputFiles(request.paths, &inputs, &problems)) {
    for (const std::string& problem : problems) ConsoleError("%s", problem.c_str());
    return CreateStatus::kInputsRefused;
  }
  const std::string& path = request.archive;
  struct stat existing;
  const bool exists = stat(path.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    Report(path, "is a folder");
    return CreateStatus::kArchiveUnwritable;
  }
  // The temporary file comes first: a folder that cannot take the archive
  // shows before any work.
  std::string reason;
  int fd = -1;
  PendingOutputPtr pending = CreatePendingOutput(FolderOf(path), &fd, &reason);
  ChunkFilePtr file = OpenChunkFileOnDisk(fd);
  if (!pending || !file) {
    Report(path, pending ? "cannot write the temporary file" : reason);
    return CreateStatus::kArchiveUnwritable;
  }

  const struct stat* archive = exists ? &existing : nullptr;
  std::vector<PlannedEntry> entries;
  uint64_t totalUnpackedSize = 0;
  if (!PlanEntries(inputs, request, archive, &entries, &totalUnpackedSize)) {
    return CreateStatus::kInputsRefused;
  }
  if (totalUnpackedSize > std::numeric_limits<uint32_t>::max()) {
    Report(path, "the unpacked files would take " + std::to_string(totalUnpackedSize) +
                     " bytes, more than an archive's header can state (4 GiB)");
    return CreateStatus::kInputsRefused;
  }
  std::vector<PakRecord> records;
  for (const PlannedEntry& entry : entries)
    records.push_back({entry.input.name, entry.plan.target});
  PakFileWriter writer;
  if (!BeginPakFile(*file, std::move(records), &writer, &reason)) {
    Report(path, reason);
    return CreateStatus::kArchiveUnwritable;
  }
  for (PlannedEntry& entry : entries) {
    bool inputFault = false;
    if (!WriteEntry(entry, path, archive, writer, &inputFault)) {
      return inputFault ? CreateStatus::kInputsRefused : CreateStatus::kArchiveUnwritable;
    }
  }
  if (!FinishPakFile(writer, static_cast<uint32_t>(totalUnpackedSize), &reason) ||
      !ChunkFileClose(std::move(file)) || !PlacePendingOutput(std::move(pending), path, &reason)) {
    Report(path, reason.empty() ? "writing the archive failed (disk full or I/O error)" : reason);
    return CreateStatus::kArchiveUnwritable;
  }
  return CreateStatus::kCreated;
}
