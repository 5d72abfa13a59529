#include "run/needed_space.h"

#include "convert/entry_facts.h"

namespace unpak {

uint64_t NeededSpace(Selection& selection) {
  const OpenedArchive& archive = selection.archive;
  uint64_t needed = 0;
  for (uint32_t index = 0; index < archive.header.entryCount; ++index) {
    PakEntry entry;
    EntryView view;
    EntryFacts facts;
    std::string reason;
    if (IsSelected(selection, index, &entry, &view) && view.payload != nullptr &&
        InspectEntry(view.targetFormat, view.payload, view.payloadSize, &facts, &reason)) {
      needed += facts.outputSize;
    }
  }
  return needed;
}

}  // namespace unpak
