#include "create/archive_rewrite.h"

#include <algorithm>
#include <cstring>

#include "archive/pak_file.h"

namespace unpak {

bool ReadOldArchive(const std::string& path, OldArchive* old) {
  std::string reason;
  PakHeader& header = old->header;
  MappedFilePtr file = OpenPakFile(path.c_str(), &header, &reason);
  if (file) {
    old->bytes.assign(file->data, file->data + file->size);
    if (MappedBytesLost(file->data, file->size)) reason = "it changed while being read";
  }
  if (!file || !reason.empty()) {
    ReportProblem(path, reason);
    return false;
  }
  old->entries.resize(header.entryCount);
  old->views.resize(header.entryCount);
  size_t nameTableSize = 0;
  for (uint32_t i = 0; i < header.entryCount; ++i) {
    old->entries[i] = ReadPakEntry(old->bytes.data(), header, i);
    if (!ResolvePakEntry(old->bytes.data(), old->bytes.size(), header, old->entries[i],
                         &old->views[i], &reason)) {
      ReportProblem(path, "entry " + std::to_string(i) + ": " + reason);
      return false;
    }
    nameTableSize = std::max(
        nameTableSize, size_t{old->entries[i].nameOffset} + std::strlen(old->views[i].path) + 1);
  }
  const auto start = old->bytes.begin() + header.nameTableOffset;
  old->nameTable.assign(start, start + static_cast<ptrdiff_t>(nameTableSize));
  return true;
}

UpdateStatus RewriteStatusOf(StepResult result) {
  switch (result) {
    case StepResult::kDone:
      return UpdateStatus::kUpdated;
    case StepResult::kInputFault:
      return UpdateStatus::kInputsRefused;
    case StepResult::kArchiveFault:
      break;
  }
  return UpdateStatus::kArchiveUnusable;
}

bool OpenRewrite(const std::string& archivePath, const std::string& outputPath,
                 ArchiveOutput* output, OldArchive* old) {
  return OpenArchiveOutput(outputPath, output) && ReadOldArchive(archivePath, old);
}

bool InspectOldEntry(const EntryView& view, EntryFacts* facts, std::string* reason) {
  return InspectEntry(view.targetFormat, view.payload, view.payloadSize, facts, reason);
}

uint64_t OldOutputSize(const EntryView& view) {
  EntryFacts facts;
  std::string reason;
  return InspectOldEntry(view, &facts, &reason) ? facts.outputSize : 0;
}

NewTables CarryTables(const OldArchive& old, const std::vector<CarriedEntry>& carried) {
  // The old name bytes still in use, and where each lands once the others are left out.
  std::vector<bool> used(old.nameTable.size());
  for (const CarriedEntry& entry : carried) {
    if (entry.newName) continue;
    const size_t start = old.entries[entry.index].nameOffset;
    std::fill_n(used.begin() + static_cast<ptrdiff_t>(start),
                std::strlen(old.views[entry.index].path) + 1, true);
  }
  NewTables tables;
  std::vector<uint32_t> moved(old.nameTable.size());
  for (size_t i = 0; i < old.nameTable.size(); ++i) {
    moved[i] = static_cast<uint32_t>(tables.nameTable.size());
    if (used[i]) tables.nameTable.push_back(old.nameTable[i]);
  }
  for (const CarriedEntry& entry : carried) {
    PakEntry record = old.entries[entry.index];
    record.nameOffset =
        entry.newName ? AppendName(tables, *entry.newName) : moved[record.nameOffset];
    tables.records.push_back(record);
  }
  return tables;
}

uint32_t AppendName(NewTables& tables, const std::string& name) {
  const auto offset = static_cast<uint32_t>(tables.nameTable.size());
  tables.nameTable.insert(tables.nameTable.end(), name.begin(), name.end());
  tables.nameTable.push_back('\0');
  return offset;
}

bool CarryPayload(PayloadTarget& target, const OldArchive& old, PakEntry& record,
                  CarriedPayloads* carried) {
  const auto [at, first] = carried->try_emplace({record.dataOffset, record.dataSize}, 0);
  std::string reason;
  if (first &&
      !AppendPakPayload(target.writer, {old.bytes.data() + record.dataOffset, record.dataSize},
                        &at->second, &reason)) {
    ReportProblem(target.path, reason);
    return false;
  }
  record.dataOffset = at->second;
  return true;
}

StepResult WriteRewrittenArchive(ArchiveOutput& output, const std::string& path, NewTables& tables,
                                 uint64_t totalUnpackedSize, const PayloadSteps& writePayloads) {
  const struct stat* archive = ReplacedArchive(output);
  PakFileWriter writer;
  std::string reason;
  if (!ReservePakTables(
          *output.file,
          kPakHeaderSize + tables.records.size() * kPakEntrySize + tables.nameTable.size(), &writer,
          &reason)) {
    ReportProblem(path, reason);
    return StepResult::kArchiveFault;
  }
  PayloadTarget target{writer, path, archive};
  const StepResult written = writePayloads(target, tables.records);
  if (written != StepResult::kDone) return written;
  if (!WritePakTables(writer,
                      BuildPakTablesOf(tables.records, tables.nameTable,
                                       static_cast<uint32_t>(totalUnpackedSize)),
                      &reason)) {
    ReportProblem(path, reason);
    return StepResult::kArchiveFault;
  }
  return PlaceArchiveOutput(output, path) ? StepResult::kDone : StepResult::kArchiveFault;
}

StepResult WriteCarriedEntries(const OldArchive& old, const std::vector<CarriedEntry>& carried,
                               ArchiveOutput& output, const std::string& path) {
  uint64_t totalUnpackedSize = 0;
  for (const CarriedEntry& entry : carried)
    totalUnpackedSize += OldOutputSize(old.views[entry.index]);
  if (!UnpackedSizeFits(path, totalUnpackedSize)) return StepResult::kArchiveFault;
  NewTables tables = CarryTables(old, carried);
  const PayloadSteps copy = [&old](PayloadTarget& target, std::vector<PakEntry>& records) {
    CarriedPayloads copied;
    for (PakEntry& record : records) {
      if (!CarryPayload(target, old, record, &copied)) return StepResult::kArchiveFault;
    }
    return StepResult::kDone;
  };
  return WriteRewrittenArchive(output, path, tables, totalUnpackedSize, copy);
}

}  // namespace unpak
