#pragma once

#include <cstdint>
#include <string>

#include "convert/entry_facts.h"
#include "convert/segmented_stream.h"
#include "platform/output_file.h"
#include "platform/scratch_file.h"

namespace unpak {

// Where a conversion writes its output.
enum class OutputKeeping {
  kDiscarded,             // decoded and encoded as for a file, then thrown away
  kInCurrentDirectory,    // a pending file to be put in its place there
  kInTemporaryDirectory,  // a pending file to be copied elsewhere, then removed
  kUnnamed,               // a file without a name in the temporary directory, held open
  kInMemory,              // a file that lives in memory only, held open
};

// What a conversion leaves: the finished file, not yet in its place, and how
// much audio the decoder gave.
struct EntryResult {
  PendingOutputPtr output;    // null when the output was discarded or is unnamed
  OpenFilePtr unnamedOutput;  // the finished file, read-write, for kUnnamed and kInMemory
  uint64_t decodedBytes = 0;  // decoded audio after the delay, before the cap
};

// Rebuilds one archive entry, read by InspectEntry, as a WAV file: the target
// format in its "fmt " chunk, the payload's chunks between "skee" and
// "data", the decoded audio, and the payload's tail, written under a
// temporary name where `keeping` says, for the caller to put in its place or
// copy out; when discarded, everything is decoded and encoded as for a file,
// and nothing is written in the current directory. With `helpers`, a long
// entry with a PCM target is decoded in segments that idle threads of the run
// may take on. False, with the reason, when the entry cannot be converted;
// nothing is then left behind.
bool UnpackEntry(const EntryFacts& facts, const uint8_t* payload, uint32_t payloadSize,
                 OutputKeeping keeping, EntryResult* result, std::string* reason,
                 SegmentHelpers* helpers = nullptr);

// As UnpackEntry, for kUnnamed or kInMemory, but with the "data" chunk's
// audio left out: a hole of facts.audioBytes bytes, zeros until filled, at
// `audioStart`. For an entry whose audio surely comes to that length, to be
// filled in by decoding the parts of it that readers need.
bool WriteEntryWithoutAudio(const EntryFacts& facts, const uint8_t* payload,
                            uint32_t payloadSize, OutputKeeping keeping, EntryResult* result,
                            uint64_t* audioStart, std::string* reason);

}  // namespace unpak
