#pragma once

// The codec delay of an entry's MP3 stream: the sample frames, at the MP3's
// rate, that unpak's decoder puts out in front of the input's first sample
// (LAME's encoder delay and the decoder's own). It is measured, not assumed:
// a probe signal is encoded at the entry's rate and channels and decoded by
// the decode stage unpak runs, and the delay is the lag at which the two
// correlate best. The delay does not depend on the bit rate or the quality
// (1105 at every rate, bit rate and quality, with LAME 3.100 and libmpg123
// 1.31), so the probe is encoded at the rate's default bit rate and quality
// 2, where it comes through cleanest.

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "create/mpeg_settings.h"
#include "platform/wave_format.h"

namespace unpak {

// Delays measured so far in a run, by rate and channels.
struct CodecDelays {
  std::map<std::pair<uint32_t, uint16_t>, uint16_t> measured;
};

// The delay for MP3 audio at `rate` with `channels`. Needs the codec module
// registered. False, with the reason, when the probe cannot be encoded or
// decoded, or no lag stands out.
bool FindCodecDelay(uint32_t rate, uint16_t channels, CodecDelays* delays, uint16_t* delay,
                    std::string* reason);

// The MPEG Layer-3 format block for MP3 audio encoded with `mp3`, with its
// codec delay measured. False, with the reason, when it cannot be measured.
bool MakeMp3SourceFormat(const Mp3Settings& mp3, CodecDelays* delays, FormatBlock* format,
                         std::string* reason);

}  // namespace unpak
