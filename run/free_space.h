#pragma once

#include <cstdint>

namespace unpak {

// Compares the free space of the file system holding the current directory
// with `needed`. When it is short, says so and asks on the controlling
// terminal whether to go on. True means go on.
bool CheckFreeSpace(uint64_t needed);

}  // namespace unpak
