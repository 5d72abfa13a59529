#pragma once

// The order a run converts and finishes its selected entries in: one by one
// on this thread, or converted ahead by workers and finished here in
// archive order, with the same transcript either way.

#include <cstdint>

#include "archive/entry_selection.h"
#include "run/unpack_options.h"

namespace unpak {

struct RunCounts {
  uint32_t entries = 0;
  uint32_t failed = 0;
  uint32_t damaged = 0;  // written or tested, but damaged
  bool stopped = false;
  int outputError = 0;  // why writing to standard output stopped the run
};

void RunInOrder(const OpenedArchive& archive, const UnpackOptions& options, Selection& selection,
                RunCounts* counts);

void RunInParallel(const OpenedArchive& archive, const UnpackOptions& options, Selection& selection,
                   RunCounts* counts);

}  // namespace unpak
