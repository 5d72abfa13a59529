#pragma once

// The archive walk that unpak and pak share: every selected entry is
// checked, converted and put in place (or only checked), in archive order,
// with one transcript line per entry and a message for each failure.

#include "run/unpack_options.h"

namespace unpak {

enum class UnpackStatus {
  kOk,                 // every selected entry done and sound
  kEntriesFailed,      // every entry was tried; some failed, or a pattern matched nothing
  kArchiveUnreadable,  // the archive cannot be read at all (or stopped being readable)
  kDeclined,           // the user chose not to go on for want of free space
  kReaderGone,         // standard output's reader went away; the run stopped quietly
  kOutputFailed,       // writing to standard output failed otherwise; the run stopped
};

UnpackStatus UnpackArchive(const char* archivePath, const UnpackOptions& options);

// The workers a run may use: the cores this process may run on, up to
// kMaxWorkers.
unsigned AvailableCores();

}  // namespace unpak
