#pragma once

// `pak create`: a new archive from WAV files. Every input is checked before
// any is encoded; the entries are encoded on several threads and written in
// order, the same archive whatever their number. The archive is written
// under a temporary name next to its final path and put in place only when
// complete, so a failed or interrupted run leaves no archive and no
// temporary file behind, and an archive that stood at the path is kept.

#include <string>
#include <vector>

#include "create/input_files.h"
#include "create/wave_entry.h"

namespace unpak {

struct CreateRequest {
  std::string archive;
  std::vector<InputArgument> inputs;  // WAV files and folders
  CreateSettings settings;
  unsigned workers = 1;  // entries encoded at once; 1 encodes each in turn on this thread
};

enum class CreateStatus {
  kCreated,
  kInputsRefused,      // an input cannot be stored; nothing was written
  kArchiveUnwritable,  // the archive cannot be written at its path
};

// What the archive written holds.
struct CreatedArchive {
  size_t entries = 0;
  double seconds = 0;  // of audio
  uint64_t size = 0;   // of the archive
};

// Needs the codec module registered. Prints a "Compressing" line per entry
// and a message per problem; fills `created` when the archive is written.
CreateStatus CreateArchive(const CreateRequest& request, CreatedArchive* created);

}  // namespace unpak
