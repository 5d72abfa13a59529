#pragma once

// How a run walks an archive: what it does with each entry and how many it
// converts at once.

#include <string>
#include <vector>

namespace unpak {

// The most workers a run starts: each has a few pending files, and the
// signal handlers keep room for a fixed number.
constexpr unsigned kMaxWorkers = 64;

// Where each entry's WAV file goes.
enum class OutputTarget {
  kEntryPath,       // its path under the current directory
  kNowhere,         // decoded and encoded, then discarded
  kStandardOutput,  // each whole file in turn, in archive order
};

// Files that already stand at the outputs' paths.
enum class ExistingFiles {
  kReplace,    // replaced by a complete output
  kKeep,       // kept, the entry skipped
  kKeepNewer,  // kept when modified after the archive
};

struct UnpackOptions {
  OutputTarget outputTarget = OutputTarget::kEntryPath;
  ExistingFiles existingFiles = ExistingFiles::kReplace;
  // What the decoder passes over quietly (skipped bytes, a cut last frame,
  // audio shorter than stated) is always reported as damage; this ends each
  // line with "ok", "damaged" or "failed" and the run with a count.
  bool showVerdicts = false;
  // A damaged entry makes the run's status that of a failed one (pak); for
  // unpak, whose status tells of failures only, it does not.
  bool damageFails = true;
  const char* lineVerb = "Decompressing";
  // The entries' path patterns (EntryPathMatches); empty selects every entry.
  std::vector<std::string> patterns;
  // Check the free space against what the selected entries need, not the
  // archive header's total.
  bool computeNeededSpace = false;
  // Entries converted at once (at most kMaxWorkers); 1 converts in order on
  // this thread.
  unsigned workers = 1;
};

}  // namespace unpak
