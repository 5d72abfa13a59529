#pragma once

// One entry's work in a run: converted (perhaps ahead of its turn, on a
// worker), then finished in archive order.

#include <cstdint>
#include <string>
#include <vector>

#include "convert/segmented_stream.h"
#include "platform/console.h"
#include "platform/output_file.h"
#include "archive/entry_selection.h"
#include "run/unpack_options.h"

namespace unpak {

// One entry's work, and what it left for its turn.
struct EntryTask {
  uint32_t index = 0;
  ConsoleCapture transcript;  // its line, while converted ahead of its turn
  std::string path;           // as stored; empty when the name cannot be read
  bool lineStarted = false;   // its transcript line was begun
  bool kept = false;          // an existing file at its path was kept
  bool ok = false;
  bool archiveUnreadable = false;
  std::string reason;               // why it failed
  std::vector<std::string> damage;  // what the decoder passed over
  int outputError = 0;              // why writing to standard output failed
  PendingOutputPtr output;
};

// The part of an entry's work that may run ahead of its turn: everything but
// putting the output in its place and reporting. With `helpers`, a long entry
// may be decoded in segments that they help with.
void ConvertEntry(const OpenedArchive& archive, const UnpackOptions& options, EntryTask& task,
                  SegmentHelpers* helpers = nullptr);

// The part of an entry's work done in archive order: its output put in
// place, its line ended, its problems reported. False when the run must stop.
bool FinishEntry(const OpenedArchive& archive, const UnpackOptions& options, EntryTask& task);

}  // namespace unpak
