#pragma once

// An archive entry read and checked as unpak checks it before converting it,
// decoding nothing: its record and name fit the archive, its name is a path
// unpak writes (by its form), and its payload and target can be converted.

#include <cstdint>
#include <string>

#include "archive/entry_selection.h"
#include "convert/entry_facts.h"

namespace unpak {

// False, with the reason, when unpak refuses the entry at `index`. `entry`
// receives the record, `view` points into the archive (its path is set
// whenever the name can be read) and `facts` into `entry`.
bool InspectArchiveEntry(const OpenedArchive& archive, uint32_t index, PakEntry* entry,
                         EntryView* view, EntryFacts* facts, std::string* reason);

// Reports a problem with the entry at `index` as every command words it,
// naming its path (as stored; empty when it cannot be read).
void ReportEntryProblem(uint32_t index, const std::string& path, const std::string& text);

}  // namespace unpak
