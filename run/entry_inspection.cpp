#include "run/entry_inspection.h"

#include "archive/entry_path.h"
#include "platform/console.h"

namespace unpak {

bool InspectArchiveEntry(const OpenedArchive& archive, uint32_t index, PakEntry* entry,
                         EntryView* view, EntryFacts* facts, std::string* reason) {
  *entry = ReadPakEntry(archive.data, archive.header, index);
  return ResolvePakEntry(archive.data, archive.size, archive.header, *entry, view, reason) &&
         CheckOutputPathForm(view->path, reason) &&
         InspectEntry(view->targetFormat, view->payload, view->payloadSize, facts, reason);
}

void ReportEntryProblem(uint32_t index, const std::string& path, const std::string& text) {
  if (path.empty()) {
    ConsoleError("entry %u: %s", index, DisplayName(text).c_str());
  } else {
    ConsoleError("entry %u (%s): %s", index, DisplayName(path).c_str(), DisplayName(text).c_str());
  }
}

}  // namespace unpak
