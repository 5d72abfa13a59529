#include "create/update_archive.h"

#include <cstring>
#include <map>
#include <utility>

#include "archive/pak_file.h"
#include "archive/pak_file_writer.h"
#include "archive/pak_reader.h"
#include "convert/entry_facts.h"
#include "create/archive_steps.h"
#include "create/replacement_entry.h"
#include "platform/console.h"

namespace {

struct OldArchive {
  std::vector<uint8_t> bytes;
  std::vector<PakEntry> entries;
  std::vector<EntryView> views;
  std::vector<uint8_t> nameTable;  // up to the end of its last name
};

// Reads the whole archive, every entry's name and payload checked to lie
// inside it; false, reported, when it cannot be.
bool ReadOldArchive(const std::string& path, OldArchive* old) {
  std::string reason;
  PakHeader header;
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

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

// What the entry states, read as unpak reads it, its messages kept quiet.
bool InspectOldEntry(const EntryView& view, EntryFacts* facts, std::string* reason) {
  ConsoleCapture quiet;
  SetConsoleCapture(&quiet);
  const bool ok = InspectEntry(view.targetFormat, view.payload, view.payloadSize, facts, reason);
  SetConsoleCapture(nullptr);
  return ok;
}

bool PlanReplacement(const InputFile& input, const EntryView& view, const UpdateRequest& request,
                     const struct stat* archive, CodecDelays* delays, PlannedEntry* entry) {
  entry->input = {input.path, view.path};
  std::string reason;
  EntryFacts facts;
  if (!InspectOldEntry(view, &facts, &reason)) {
    reason = "the entry it replaces cannot be read: " + reason;
  } else if (MappedFilePtr file = MapInput(input.path, archive, &reason)) {
    if (PlanReplacementEntry(file->data, file->size, facts, {view.payload, view.payloadSize},
                             request.settings.quality, delays, &entry->plan, &reason) &&
        InputUnchanged(*file, &reason)) {
      return true;
    }
  }
  ReportProblem(input.path, reason);
  return false;
}

// The old entry's unpacked size, as the archive's header counts it: none for
// an entry that unpak cannot write.
uint64_t OldOutputSize(const EntryView& view) {
  EntryFacts facts;
  std::string reason;
  return InspectOldEntry(view, &facts, &reason) ? facts.outputSize : 0;
}

}  // namespace

UpdateStatus UpdateArchive(const UpdateRequest& request) {
  std::vector<InputFile> inputs;
  if (!ListInputFiles(request.paths, &inputs)) return UpdateStatus::kInputsRefused;
  OldArchive old;
  if (!ReadOldArchive(request.archive, &old)) return UpdateStatus::kArchiveUnusable;
  const std::string& path = request.output.empty() ? request.archive : request.output;
  ArchiveOutput output;
  if (!OpenArchiveOutput(path, &output)) return UpdateStatus::kArchiveUnusable;

  // Every input is planned, and each that cannot be stored reported, first.
  const struct stat* archive = output.exists ? &output.existing : nullptr;
  const size_t count = old.entries.size();
  std::vector<PlannedEntry> replaced(count);
  std::vector<bool> isReplaced(count, false);
  std::vector<PlannedEntry> added;
  CodecDelays delays;
  bool planned = true;
  for (const InputFile& input : inputs) {
    bool matched = false;
    for (size_t i = 0; i < count; ++i) {
      if (!SameName(old.views[i].path, input.name)) continue;
      matched = isReplaced[i] = true;
      planned =
          PlanReplacement(input, old.views[i], request, archive, &delays, &replaced[i]) && planned;
    }
    if (!matched) {
      added.emplace_back();
      planned = PlanNewEntry(input, request.settings, archive, &delays, &added.back()) && planned;
    }
  }
  uint64_t totalUnpackedSize = 0;
  for (size_t i = 0; i < count; ++i)
    totalUnpackedSize += isReplaced[i] ? replaced[i].plan.outputSize : OldOutputSize(old.views[i]);
  for (const PlannedEntry& entry : added) totalUnpackedSize += entry.plan.outputSize;
  if (!planned || !UnpackedSizeFits(path, totalUnpackedSize)) {
    return UpdateStatus::kInputsRefused;
  }

  // The old records and names as they were; added entries' after them.
  std::vector<PakEntry> records = old.entries;
  std::vector<uint8_t> nameTable = old.nameTable;
  for (const PlannedEntry& entry : added) {
    PakEntry record;
    record.nameOffset = static_cast<uint32_t>(nameTable.size());
    std::copy_n(entry.plan.target.begin(), std::min(entry.plan.target.size(), kTargetFormatSize),
                record.targetFormat);
    records.push_back(record);
    nameTable.insert(nameTable.end(), entry.input.name.begin(), entry.input.name.end());
    nameTable.push_back('\0');
  }
  PakFileWriter writer;
  std::string reason;
  if (!ReservePakTables(*output.file,
                        kPakHeaderSize + records.size() * kPakEntrySize + nameTable.size(), &writer,
                        &reason)) {
    ReportProblem(path, reason);
    return UpdateStatus::kArchiveUnusable;
  }
  const auto encode = [&](PlannedEntry& entry, PakEntry& record) {
    bool inputFault = false;
    const PayloadWriter write = [&](const std::vector<uint8_t>& payload, std::string* why) {
      record.dataSize = static_cast<uint32_t>(payload.size());
      return AppendPakPayload(writer, payload, &record.dataOffset, why);
    };
    if (EncodePlannedEntry(entry, path, archive, write, &inputFault)) return UpdateStatus::kUpdated;
    return inputFault ? UpdateStatus::kInputsRefused : UpdateStatus::kArchiveUnusable;
  };
  // Each old payload once, wherever it was shared, at its new offset.
  std::map<std::pair<uint32_t, uint32_t>, uint32_t> carried;
  for (size_t i = 0; i < count; ++i) {
    PakEntry& record = records[i];
    if (isReplaced[i]) {
      const UpdateStatus status = encode(replaced[i], record);
      if (status != UpdateStatus::kUpdated) return status;
      continue;
    }
    const auto [at, first] = carried.try_emplace({record.dataOffset, record.dataSize}, 0);
    if (first &&
        !AppendPakPayload(writer, {old.views[i].payload, record.dataSize}, &at->second, &reason)) {
      ReportProblem(path, reason);
      return UpdateStatus::kArchiveUnusable;
    }
    record.dataOffset = at->second;
  }
  for (size_t i = 0; i < added.size(); ++i) {
    const UpdateStatus status = encode(added[i], records[count + i]);
    if (status != UpdateStatus::kUpdated) return status;
  }
  if (!WritePakTables(
          writer, BuildPakTablesOf(records, nameTable, static_cast<uint32_t>(totalUnpackedSize)),
          &reason)) {
    ReportProblem(path, reason);
    return UpdateStatus::kArchiveUnusable;
  }
  if (!PlaceArchiveOutput(output, path)) return UpdateStatus::kArchiveUnusable;
  const size_t replacedCount =
      static_cast<size_t>(std::count(isReplaced.begin(), isReplaced.end(), true));
  ConsolePrint("%zu replaced, %zu added, %zu kept\n", replacedCount, added.size(),
               count - replacedCount);
  return UpdateStatus::kUpdated;
}
