#pragma once

// How far workers run ahead of the entry whose turn it is, where entries are
// worked on by several threads and finished in order.

#include <cstddef>

namespace unpak {

// Entries a worker may take on beyond the one whose turn it is: enough to
// keep it busy past an entry that takes long, few enough that what they hold
// while they wait (pending files, encoded streams) stays small.
constexpr size_t kEntriesAheadPerWorker = 2;

// The entries taken on and not yet finished, at most, with `workers` workers.
constexpr size_t WorkWindow(unsigned workers) {
  return size_t{workers} * kEntriesAheadPerWorker + 1;
}

}  // namespace unpak
