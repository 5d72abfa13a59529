#pragma once

// The archive a run walks, and the entries it selects from it: all of them,
// or those whose paths match one of the run's patterns.

#include <time.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/pak_format.h"
#include "archive/pak_reader.h"

namespace unpak {

// The mapped archive and its header.
struct OpenedArchive {
  const char* name;
  const uint8_t* data;
  size_t size;
  PakHeader header;
  timespec modified{};  // the archive file's modification time
};

// Walks the selected entries in archive order; `matched` marks the patterns
// that matched an entry so far.
struct Selection {
  const OpenedArchive& archive;
  const std::vector<std::string>& patterns;
  std::vector<bool> matched;
};

// Whether the entry at `index` is selected. `entry` receives the record;
// `view` points into it.
bool IsSelected(Selection& selection, uint32_t index, PakEntry* entry, EntryView* view);

// The first selected entry from `from` on; the entry count when none is left.
uint32_t NextSelected(Selection& selection, uint32_t from);

// Reports each pattern that matched no entry. False when there was one.
bool ReportUnmatchedPatterns(const Selection& selection);

}  // namespace unpak
