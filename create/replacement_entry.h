#pragma once

// A new payload for an existing archive entry, from a sound file: the entry
// keeps its target format, its MP3 stream's rate, channels and bit rate, and
// the chunks around its audio; the file's audio is remixed and resampled to
// fit and encoded as `pak create` encodes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "convert/entry_facts.h"
#include "create/wave_entry.h"

namespace unpak {

// Whose chunks around the audio the new payload carries: the entry's (every
// byte of them, "fact" set to the new length) or the sound file's (other
// than "fmt " and "data").
enum class ChunkSource { kEntry, kInput };

// Plans the entry that replaces the one whose facts are `entry` and whose
// payload is `payload` with the sound file held in `bytes`, for
// EncodeWaveEntry, with its chunks from `chunks`. Needs the codec module
// registered. False, with the reason, when the file cannot be fitted to the
// entry. `pastEnd` receives a line per cue point, loop or region that the
// chunks place past the new end; they are kept as they are.
bool PlanReplacementEntry(const uint8_t* bytes, size_t size, const EntryFacts& entry,
                          std::span<const uint8_t> payload, ChunkSource chunks, int quality,
                          CodecDelays* delays, WaveEntryPlan* plan,
                          std::vector<std::string>* pastEnd, std::string* reason);

}  // namespace unpak
