#include "create/create_archive.h"

#include "archive/pak_file_writer.h"
#include "create/archive_steps.h"
#include "create/encoding_queue.h"
#include "create/entry_length.h"

namespace unpak {

CreateStatus CreateArchive(const CreateRequest& request, CreatedArchive* created) {
  std::vector<InputFile> inputs;
  if (!ListInputFiles(request.inputs, &inputs)) return CreateStatus::kInputsRefused;
  const std::string& path = request.archive;
  ArchiveOutput output;
  if (!OpenArchiveOutput(path, &output)) return CreateStatus::kArchiveUnwritable;

  // Every input is planned, and each that cannot be stored reported, first.
  const struct stat* archive = ReplacedArchive(output);
  CodecDelays delays;
  std::vector<PlannedEntry> entries(inputs.size());
  uint64_t totalUnpackedSize = 0;
  bool planned = true;
  for (size_t i = 0; i < inputs.size(); ++i) {
    planned = PlanNewEntry(inputs[i], request.settings, archive, &delays, &entries[i]) && planned;
    totalUnpackedSize += entries[i].plan.outputSize;
  }
  if (!planned || !UnpackedSizeFits(path, totalUnpackedSize)) {
    return CreateStatus::kInputsRefused;
  }
  std::vector<PakRecord> records;
  for (const PlannedEntry& entry : entries)
    records.push_back({entry.input.name, entry.plan.target});
  PakFileWriter writer;
  std::string reason;
  if (!BeginPakFile(*output.file, std::move(records), &writer, &reason)) {
    ReportProblem(path, reason);
    return CreateStatus::kArchiveUnwritable;
  }
  const PayloadWriter write = [&writer](const std::vector<uint8_t>& payload, std::string* why) {
    return WritePakPayload(writer, payload, why);
  };
  std::vector<PlannedEntry*> order;
  for (PlannedEntry& entry : entries) order.push_back(&entry);
  const EncodingQueuePtr encoding = StartEncoding(order, archive, request.workers);
  for (size_t i = 0; i < entries.size(); ++i) {
    const StepResult result = WriteNextEntry(*encoding, path, write);
    if (result != StepResult::kDone) {
      return result == StepResult::kInputFault ? CreateStatus::kInputsRefused
                                               : CreateStatus::kArchiveUnwritable;
    }
  }
  if (!FinishPakFile(writer, static_cast<uint32_t>(totalUnpackedSize), &reason)) {
    ReportProblem(path, reason);
    return CreateStatus::kArchiveUnwritable;
  }
  if (!PlaceArchiveOutput(output, path)) return CreateStatus::kArchiveUnwritable;
  created->entries = entries.size();
  created->size = writer.end;
  for (const PlannedEntry& entry : entries) {
    const WaveFormat target = ReadWaveFormat(entry.plan.target.data());
    created->seconds +=
        static_cast<double>(FramesInAudio(entry.plan.target, entry.plan.length.audioLength)) /
        target.nSamplesPerSec;
  }
  return CreateStatus::kCreated;
}

}  // namespace unpak
