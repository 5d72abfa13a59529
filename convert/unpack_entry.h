#pragma once

#include <cstdint>
#include <string>

#include "convert/entry_facts.h"
#include "convert/segmented_stream.h"
#include "platform/output_file.h"

namespace unpak {

// What a conversion leaves: the finished file, not yet in its place, and how
// much audio the decoder gave.
struct EntryResult {
  PendingOutputPtr output;    // null when the output was discarded
  uint64_t decodedBytes = 0;  // decoded audio after the delay, before the cap
};

// Rebuilds one archive entry, read by InspectEntry, as a WAV file: the target
// format in its "fmt " chunk, the payload's chunks between "skee" and
// "data", the decoded audio, and the payload's tail. With `keepOutput` the
// file is written under a temporary name in the current directory, for the
// caller to put in its place; without, everything is decoded and encoded as
// for a file, then discarded, and nothing is written in the current
// directory. With `helpers`, a long entry with a PCM target is decoded in
// segments that idle threads of the run may take on. False, with the reason,
// when the entry cannot be converted; nothing is then left behind.
bool UnpackEntry(const EntryFacts& facts, const uint8_t* payload, uint32_t payloadSize,
                 bool keepOutput, EntryResult* result, std::string* reason,
                 SegmentHelpers* helpers = nullptr);

}  // namespace unpak
