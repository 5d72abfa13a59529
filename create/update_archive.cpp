#include "create/update_archive.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <utility>

#include "archive/name_case.h"
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

// The inputs sorted into replacements, by the old entry they replace, and
// additions.
struct UpdatePlan {
  std::vector<PlannedEntry> replaced;
  std::vector<bool> isReplaced;
  std::vector<PlannedEntry> added;
};

// The entries an input named `name` would replace: the one of exactly that
// name, else every one equal to it ignoring case (one, or several to refuse).
std::vector<size_t> MatchingEntries(const OldArchive& old, const std::string& name) {
  std::vector<size_t> matches;
  for (size_t i = 0; i < old.views.size(); ++i) {
    if (old.views[i].path == name) return {i};
    if (SameNameIgnoringCase(old.views[i].path, name)) matches.push_back(i);
  }
  return matches;
}

// Plans every input, reporting each that cannot be stored; false when one
// cannot.
bool PlanUpdate(const std::vector<InputFile>& inputs, const OldArchive& old,
                const UpdateRequest& request, const struct stat* archive, UpdatePlan* plan) {
  const size_t count = old.entries.size();
  plan->replaced.resize(count);
  plan->isReplaced.assign(count, false);
  CodecDelays own;
  CodecDelays* delays = request.delays != nullptr ? request.delays : &own;
  bool planned = true;
  for (const InputFile& input : inputs) {
    const std::vector<size_t> matches = MatchingEntries(old, input.name);
    if (matches.size() > 1) {
      std::string names;
      for (size_t i : matches)
        names += (names.empty() ? "" : ", ") + DisplayName(old.views[i].path);
      ReportProblem(input.path, "its name matches several entries ignoring case (" + names +
                                    "); name one exactly");
      planned = false;
    } else if (matches.size() == 1) {
      const size_t i = matches.front();
      plan->isReplaced[i] = true;
      planned =
          PlanReplacement(input, old.views[i], request, archive, delays, &plan->replaced[i]) &&
          planned;
    } else {
      plan->added.emplace_back();
      planned =
          PlanNewEntry(input, request.settings, archive, delays, &plan->added.back()) && planned;
    }
  }
  return planned;
}

uint64_t UpdatedUnpackedSize(const OldArchive& old, const UpdatePlan& plan) {
  uint64_t total = 0;
  for (size_t i = 0; i < old.entries.size(); ++i)
    total += plan.isReplaced[i] ? plan.replaced[i].plan.outputSize : OldOutputSize(old.views[i]);
  for (const PlannedEntry& entry : plan.added) total += entry.plan.outputSize;
  return total;
}

// The new archive's entry and name tables: the old records and names as
// they were, the added entries' after them. Payload offsets and sizes are
// filled in as the payloads are written.
struct NewTables {
  std::vector<PakEntry> records;
  std::vector<uint8_t> nameTable;
};

NewTables ExtendTables(const OldArchive& old, const UpdatePlan& plan) {
  NewTables tables{old.entries, old.nameTable};
  for (const PlannedEntry& entry : plan.added) {
    PakEntry record;
    record.nameOffset = static_cast<uint32_t>(tables.nameTable.size());
    std::copy_n(entry.plan.target.begin(), std::min(entry.plan.target.size(), kTargetFormatSize),
                record.targetFormat);
    tables.records.push_back(record);
    tables.nameTable.insert(tables.nameTable.end(), entry.input.name.begin(),
                            entry.input.name.end());
    tables.nameTable.push_back('\0');
  }
  return tables;
}

// Where the payloads go, and the archive's path and file for messages and
// for telling inputs from it.
struct PayloadTarget {
  PakFileWriter& writer;
  const std::string& path;
  const struct stat* archive;
};

StepResult EncodeInto(PayloadTarget& target, PlannedEntry& entry, PakEntry& record) {
  const PayloadWriter write = [&](const std::vector<uint8_t>& payload, std::string* why) {
    record.dataSize = static_cast<uint32_t>(payload.size());
    return AppendPakPayload(target.writer, payload, &record.dataOffset, why);
  };
  return EncodePlannedEntry(entry, target.path, target.archive, write);
}

// Writes every payload in the records' order: replaced and added entries
// encoded, the others' old payloads copied, each once wherever it was
// shared, and their records pointed at the copies.
StepResult WritePayloads(PayloadTarget& target, const OldArchive& old, UpdatePlan& plan,
                         std::vector<PakEntry>& records) {
  const size_t count = old.entries.size();
  std::map<std::pair<uint32_t, uint32_t>, uint32_t> carried;
  for (size_t i = 0; i < count; ++i) {
    PakEntry& record = records[i];
    if (plan.isReplaced[i]) {
      const StepResult result = EncodeInto(target, plan.replaced[i], record);
      if (result != StepResult::kDone) return result;
      continue;
    }
    const auto [at, first] = carried.try_emplace({record.dataOffset, record.dataSize}, 0);
    std::string reason;
    if (first && !AppendPakPayload(target.writer, {old.views[i].payload, record.dataSize},
                                   &at->second, &reason)) {
      ReportProblem(target.path, reason);
      return StepResult::kArchiveFault;
    }
    record.dataOffset = at->second;
  }
  for (size_t i = 0; i < plan.added.size(); ++i) {
    const StepResult result = EncodeInto(target, plan.added[i], records[count + i]);
    if (result != StepResult::kDone) return result;
  }
  return StepResult::kDone;
}

UpdateStatus StatusOf(StepResult result) {
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

void PrintSummary(const UpdatePlan& plan) {
  const size_t replaced =
      static_cast<size_t>(std::count(plan.isReplaced.begin(), plan.isReplaced.end(), true));
  ConsolePrint("%zu replaced, %zu added, %zu kept\n", replaced, plan.added.size(),
               plan.isReplaced.size() - replaced);
}

}  // namespace

UpdateStatus UpdateArchive(const UpdateRequest& request) {
  std::vector<InputFile> inputs;
  if (!ListInputFiles(request.paths, &inputs)) return UpdateStatus::kInputsRefused;
  // The archive is locked before it is read, so that an update of it
  // running meanwhile is read, not lost.
  const std::string& path = request.output.empty() ? request.archive : request.output;
  ArchiveOutput output;
  if (!OpenArchiveOutput(path, &output)) return UpdateStatus::kArchiveUnusable;
  OldArchive old;
  if (!ReadOldArchive(request.archive, &old)) return UpdateStatus::kArchiveUnusable;

  const struct stat* archive = ReplacedArchive(output);
  UpdatePlan plan;
  const bool planned = PlanUpdate(inputs, old, request, archive, &plan);
  const uint64_t totalUnpackedSize = UpdatedUnpackedSize(old, plan);
  if (!planned || !UnpackedSizeFits(path, totalUnpackedSize)) {
    return UpdateStatus::kInputsRefused;
  }

  NewTables tables = ExtendTables(old, plan);
  PakFileWriter writer;
  std::string reason;
  if (!ReservePakTables(
          *output.file,
          kPakHeaderSize + tables.records.size() * kPakEntrySize + tables.nameTable.size(), &writer,
          &reason)) {
    ReportProblem(path, reason);
    return UpdateStatus::kArchiveUnusable;
  }
  PayloadTarget target{writer, path, archive};
  const StepResult written = WritePayloads(target, old, plan, tables.records);
  if (written != StepResult::kDone) return StatusOf(written);
  if (!WritePakTables(writer,
                      BuildPakTablesOf(tables.records, tables.nameTable,
                                       static_cast<uint32_t>(totalUnpackedSize)),
                      &reason)) {
    ReportProblem(path, reason);
    return UpdateStatus::kArchiveUnusable;
  }
  if (!PlaceArchiveOutput(output, path)) return UpdateStatus::kArchiveUnusable;
  PrintSummary(plan);
  return UpdateStatus::kUpdated;
}
