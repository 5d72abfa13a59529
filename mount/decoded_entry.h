#pragma once

// An entry's output file as unpak writes it, in a file that lives in memory
// or in an unnamed temporary file: decoded whole, or for a long entry whose
// length is sure, with its audio decoded a segment at a time as reads need.

#include <cstdint>
#include <memory>
#include <string>

#include "archive/entry_selection.h"
#include "mount/partial_audio.h"
#include "platform/scratch_file.h"

namespace unpak {

struct DecodedEntry {
  uint64_t size = 0;
  OpenFilePtr file;
  bool inMemory = false;
  std::unique_ptr<PartialAudio> partial;  // null when decoded whole
};

// Decodes the entry at `index` into a file in memory, or an unnamed
// temporary file when not `inMemory`. `onDemand`, for an entry whose audio
// surely comes to the length it states, leaves its audio to FillDecoded
// where it can be decoded in segments. Null,
// with the reason, when it cannot, or when the archive (open as `archiveFd`)
// can no longer back it: it shrank or changed since it was opened, or
// reading it failed.
std::unique_ptr<DecodedEntry> DecodeArchiveEntry(const OpenedArchive& archive, int archiveFd,
                                                 uint32_t index, bool inMemory, bool onDemand,
                                                 std::string* reason);

// Makes bytes [begin, end) of the decoded file readable, decoding what of
// them is not there yet. False, with the reason, when they cannot be.
bool FillDecoded(const OpenedArchive& archive, int archiveFd, const DecodedEntry& decoded,
                 uint64_t begin, uint64_t end, std::string* reason);

}  // namespace unpak
