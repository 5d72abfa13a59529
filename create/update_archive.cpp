#include "create/update_archive.h"

#include <algorithm>

#include "archive/name_case.h"
#include "archive/entry_path.h"
#include "create/archive_rewrite.h"
#include "create/encoding_queue.h"
#include "create/replacement_entry.h"
#include "platform/console.h"

namespace unpak {

namespace {

bool PlanReplacement(const InputFile& input, const EntryView& view, const UpdateRequest& request,
                     const struct stat* archive, CodecDelays* delays, PlannedEntry* entry) {
  entry->input = {input.path, view.path};
  std::string reason;
  EntryFacts facts;
  if (!InspectOldEntry(view, &facts, &reason)) {
    reason = "the entry it replaces cannot be read: " + reason;
  } else if (MappedFilePtr file = MapInput(input.path, archive, &reason)) {
    std::vector<std::string> pastEnd;
    if (PlanReplacementEntry(file->data, file->size, facts, {view.payload, view.payloadSize},
                             request.chunks, request.settings.quality, delays, &entry->plan,
                             &pastEnd, &reason) &&
        InputUnchanged(*file, &reason)) {
      for (const std::string& line : pastEnd)
        ReportProblem(view.path, "warning: " + line + "; the chunk is kept as it was");
      return true;
    }
  }
  ReportProblem(input.path, reason);
  return false;
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

// The new archive's tables: the old entries' as they were, the added
// entries' after them.
NewTables ExtendTables(const OldArchive& old, const UpdatePlan& plan) {
  std::vector<CarriedEntry> carried(old.entries.size());
  for (size_t i = 0; i < carried.size(); ++i) carried[i].index = i;
  NewTables tables = CarryTables(old, carried);
  for (const PlannedEntry& entry : plan.added) {
    PakEntry record;
    record.nameOffset = AppendName(tables, entry.input.name);
    std::copy_n(entry.plan.target.begin(), std::min(entry.plan.target.size(), kTargetFormatSize),
                record.targetFormat);
    tables.records.push_back(record);
  }
  return tables;
}

// The replaced and added entries in the order WritePayloads writes them.
std::vector<PlannedEntry*> EncodingOrder(UpdatePlan& plan) {
  std::vector<PlannedEntry*> order;
  for (size_t i = 0; i < plan.replaced.size(); ++i) {
    if (plan.isReplaced[i]) order.push_back(&plan.replaced[i]);
  }
  for (PlannedEntry& entry : plan.added) order.push_back(&entry);
  return order;
}

// Writes the next entry that `encoding` gives, for `record`.
StepResult EncodeInto(PayloadTarget& target, EncodingQueue& encoding, PakEntry& record) {
  const PayloadWriter write = [&](const std::vector<uint8_t>& payload, std::string* why) {
    record.dataSize = static_cast<uint32_t>(payload.size());
    return AppendPakPayload(target.writer, payload, &record.dataOffset, why);
  };
  return WriteNextEntry(encoding, target.path, write);
}

// Writes every payload in the records' order: replaced and added entries
// encoded, the others' old payloads copied, each once wherever it was
// shared, and their records pointed at the copies.
StepResult WritePayloads(PayloadTarget& target, EncodingQueue& encoding, const OldArchive& old,
                         const UpdatePlan& plan, std::vector<PakEntry>& records) {
  const size_t count = old.entries.size();
  CarriedPayloads carried;
  for (size_t i = 0; i < count; ++i) {
    PakEntry& record = records[i];
    if (plan.isReplaced[i]) {
      const StepResult result = EncodeInto(target, encoding, record);
      if (result != StepResult::kDone) return result;
    } else if (!CarryPayload(target, old, record, &carried)) {
      return StepResult::kArchiveFault;
    }
  }
  for (size_t i = 0; i < plan.added.size(); ++i) {
    const StepResult result = EncodeInto(target, encoding, records[count + i]);
    if (result != StepResult::kDone) return result;
  }
  return StepResult::kDone;
}

std::string RateAndChannels(uint32_t rate, uint16_t channels) {
  return std::to_string(rate) + " Hz " + (channels == 1 ? "mono" : "stereo");
}

// How the new audio was fitted to the entry's format ("16000 Hz mono
// resampled to 22050 Hz"), or nothing when it already had it.
std::string FittedTo(const WaveEntryPlan& plan) {
  const WaveFormat target = ReadWaveFormat(plan.target.data());
  const bool resampled = plan.inputRate != target.nSamplesPerSec;
  const bool remixed = plan.inputChannels != target.nChannels;
  if (!resampled && !remixed) return "";
  const std::string rate = std::to_string(target.nSamplesPerSec) + " Hz";
  const std::string channels = target.nChannels == 1 ? "mono" : "stereo";
  return RateAndChannels(plan.inputRate, plan.inputChannels) +
         (!remixed     ? " resampled to " + rate
          : !resampled ? " remixed to " + channels
                       : " resampled and remixed to " +
                             RateAndChannels(target.nSamplesPerSec, target.nChannels));
}

void PrintSummary(const UpdatePlan& plan) {
  const size_t replaced =
      static_cast<size_t>(std::count(plan.isReplaced.begin(), plan.isReplaced.end(), true));
  ConsolePrint("%zu replaced, %zu added, %zu kept\n", replaced, plan.added.size(),
               plan.isReplaced.size() - replaced);
  for (size_t i = 0; i < plan.isReplaced.size(); ++i) {
    const std::string fitted = plan.isReplaced[i] ? FittedTo(plan.replaced[i].plan) : "";
    if (!fitted.empty()) {
      ConsolePrint("%s: %s\n", DisplayName(plan.replaced[i].input.name).c_str(), fitted.c_str());
    }
  }
}

}  // namespace

UpdateStatus UpdateArchive(const UpdateRequest& request) {
  std::vector<InputFile> inputs;
  if (!ListInputFiles(request.inputs, &inputs)) return UpdateStatus::kInputsRefused;
  const std::string& path = request.output.empty() ? request.archive : request.output;
  ArchiveOutput output;
  OldArchive old;
  if (!OpenRewrite(request.archive, path, &output, &old)) return UpdateStatus::kArchiveUnusable;

  const struct stat* archive = ReplacedArchive(output);
  UpdatePlan plan;
  const bool planned = PlanUpdate(inputs, old, request, archive, &plan);
  const uint64_t totalUnpackedSize = UpdatedUnpackedSize(old, plan);
  if (!planned || !UnpackedSizeFits(path, totalUnpackedSize)) {
    return UpdateStatus::kInputsRefused;
  }

  NewTables tables = ExtendTables(old, plan);
  const PayloadSteps write = [&](PayloadTarget& target, std::vector<PakEntry>& records) {
    const EncodingQueuePtr encoding = StartEncoding(EncodingOrder(plan), archive, request.workers);
    return WritePayloads(target, *encoding, old, plan, records);
  };
  const StepResult written = WriteRewrittenArchive(output, path, tables, totalUnpackedSize, write);
  if (written != StepResult::kDone) return RewriteStatusOf(written);
  PrintSummary(plan);
  return UpdateStatus::kUpdated;
}

}  // namespace unpak
