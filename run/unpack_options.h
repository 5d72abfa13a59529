#pragma once

// How a run walks an archive: what it does with each entry and how many it
// converts at once.

#include <string>
#include <vector>

namespace unpak {

// The most workers a run starts: each has a few pending files, and the
// signal handlers keep room for a fixed number.
constexpr unsigned kMaxWorkers = 64;

struct UnpackOptions {
  bool keepOutputs = true;  // false: decode and encode everything, write nothing
  // Report what the decoder passes over quietly (skipped bytes, a cut last
  // frame, audio shorter than stated) as damage, and end each line with
  // "ok" or "damaged".
  bool reportDamage = false;
  const char* lineVerb = "Decompressing";
  // Shell patterns matched case-insensitively against each path with its
  // backslashes read as slashes; empty selects every entry.
  std::vector<std::string> patterns;
  // Check the free space against what the selected entries need, not the
  // archive header's total.
  bool computeNeededSpace = false;
  // Entries converted at once (at most kMaxWorkers); 1 converts in order on
  // this thread.
  unsigned workers = 1;
};

}  // namespace unpak
