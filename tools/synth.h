#pragma once

// Reproducible test signals.

#include <cstdint>
#include <vector>

namespace unpak {

// `frames` sample frames of interleaved 16-bit audio: a sum of sines whose
// frequencies differ per channel, with a little pseudo-random noise from
// `seed`, at about -12 dBFS. The same arguments always give the same samples.
std::vector<int16_t> SynthesizeMusic(int channels, int rate, int frames, uint32_t seed);

}  // namespace unpak
