#include "create/entry_encoding.h"

#include "platform/console.h"

namespace unpak {

bool EncodeEntryAudio(PlannedEntry& entry, const struct stat* archive, std::string* reason) {
  ConsolePrint("Compressing %s : ", DisplayName(entry.input.name).c_str());
  MappedFilePtr file = MapInput(entry.input.path, archive, reason);
  return file && EncodeWaveEntry(file->data, file->size, &entry.plan, reason) &&
         InputUnchanged(*file, reason);
}

StepResult WriteEncodedEntry(PlannedEntry& entry, bool encoded, std::string reason,
                             const std::string& archivePath, const PayloadWriter& write) {
  const bool ok = encoded && write(BuildEntryPayload(entry.plan.parts), &reason);
  entry.plan.parts = {};
  ConsoleEndLine("\n");
  if (ok) return StepResult::kDone;
  ReportProblem(encoded ? archivePath : entry.input.path, reason);
  return encoded ? StepResult::kArchiveFault : StepResult::kInputFault;
}

}  // namespace unpak
