#pragma once

// The surroundings that the fuzz harnesses run each input in. Before the
// first input, LLVMFuzzerInitialize (defined with these) registers the codec
// module, silences standard output, gives up the controlling terminal and
// makes a private working folder; it aborts when any of that fails.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace unpak {

// Runs `input` in the working folder, then empties the folder and aborts
// when anything appeared next to it.
void FuzzInSandbox(const std::function<void()>& input);

// Puts `data` in memory under a path, as the programs read an archive, and
// runs `input` on that path in the working folder.
void FuzzArchiveInSandbox(const uint8_t* data, size_t size,
                          const std::function<void(const std::string& path)>& input);

}  // namespace unpak
