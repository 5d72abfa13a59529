#pragma once

// Interleaved float audio taken to another channel count as unpak remixes:
// stereo to mono is the mean of the two, mono to stereo duplicates.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace unpak {

// Replaces `output`'s contents with the `frames` frames of `input` remixed
// to `to` channels; `input` has the other count (2 for 1, 1 for 2).
void MixChannels(const float* input, size_t frames, uint16_t to, std::vector<float>* output);

}  // namespace unpak
