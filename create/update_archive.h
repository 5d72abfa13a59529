#pragma once

// `pak update`: an archive rewritten so that only the entries named by its
// inputs change. An input named as an entry replaces it (the entry of
// exactly its name, else the one entry equal to it ignoring ASCII case;
// several such are refused), fitted to what the entry states; any other is
// added after the existing entries, as `pak create` makes one. Every other
// entry is carried over byte for byte, sharing what it shared. The archive
// is locked while it is updated, and the new one is put in place only when
// complete.

#include <string>
#include <vector>

#include "create/input_files.h"
#include "create/replacement_entry.h"
#include "create/wave_entry.h"

namespace unpak {

struct UpdateRequest {
  std::string archive;
  std::string output;                        // empty: the archive itself
  std::vector<InputArgument> inputs;         // WAV files and folders
  CreateSettings settings;                   // the bit rate only for added entries
  ChunkSource chunks = ChunkSource::kEntry;  // of replaced entries
  CodecDelays* delays = nullptr;  // delays measured before, to reuse; null: measured afresh
  unsigned workers = 1;           // entries encoded at once, as for CreateRequest
};

enum class UpdateStatus {
  kUpdated,
  kInputsRefused,    // an input cannot be stored or fitted; nothing was written
  kArchiveUnusable,  // the archive cannot be read, or the new one written
};

// Needs the codec module registered. Prints a "Compressing" line per
// replaced or added entry, a summary, and a message per problem.
UpdateStatus UpdateArchive(const UpdateRequest& request);

}  // namespace unpak
