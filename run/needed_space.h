#pragma once

#include <cstdint>

#include "archive/entry_selection.h"

namespace unpak {

// What the selected entries' outputs need on disk, from their formats and
// stated lengths; entries that cannot be read count nothing.
uint64_t NeededSpace(Selection& selection);

}  // namespace unpak
