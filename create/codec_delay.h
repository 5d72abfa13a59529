#pragma once

// The codec delay of an entry's MP3 stream: the sample frames, at the MP3's
// rate, that unpak's decoder puts out in front of the input's first sample
// (LAME's encoder delay and the decoder's own). It is measured, not assumed:
// a probe signal is encoded with the entry's settings and decoded by the
// decode stage unpak runs, and the delay is the lag at which the two
// correlate best.

#include <cstdint>
#include <map>
#include <string>
#include <tuple>

#include "create/mpeg_settings.h"

// Delays measured so far in a run, by rate, channels, bit rate and quality.
struct CodecDelays {
  std::map<std::tuple<uint32_t, uint16_t, uint32_t, int>, uint16_t> measured;
};

// Needs the codec module registered. False, with the reason, when the probe
// cannot be encoded or decoded, or no lag stands out.
bool FindCodecDelay(const Mp3Settings& settings, CodecDelays* delays, uint16_t* delay,
                    std::string* reason);
