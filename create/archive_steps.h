#pragma once

// The steps that `pak create` and `pak update` share: reading and planning
// inputs, and the archive written under a temporary name and put in place
// only when complete. Their encoding is in entry_encoding and
// encoding_queue.

#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "create/input_files.h"
#include "create/wave_entry.h"
#include "platform/chunk_file.h"
#include "platform/mapped_file.h"
#include "platform/output_file.h"
#include "platform/replaced_file.h"

namespace unpak {

struct PlannedEntry {
  InputFile input;  // for a replaced entry, named as the archive names it
  WaveEntryPlan plan;
};

// Prints "pak: PATH: REASON".
void ReportProblem(const std::string& path, const std::string& reason);

// Maps the input, refusing the archive's own file (`archive`, when one
// stands at the archive's path).
MappedFilePtr MapInput(const std::string& path, const struct stat* archive, std::string* reason);

// False, with the reason, when the mapped file changed or failed to read.
bool InputUnchanged(const MappedFile& file, std::string* reason);

// Plans `input` as a new entry, as `pak create` makes one; false, reported,
// when it cannot be stored.
bool PlanNewEntry(const InputFile& input, const CreateSettings& settings,
                  const struct stat* archive, CodecDelays* delays, PlannedEntry* entry);

// How a step that writes the archive ended: done, or failed through an
// input's fault or the archive's.
enum class StepResult { kDone, kInputFault, kArchiveFault };

// Writes an entry's payload into the archive; false, with the reason, when
// it cannot.
using PayloadWriter = std::function<bool(const std::vector<uint8_t>&, std::string*)>;

// False, reported, when the archive's entries would unpack to more than its
// header can state.
bool UnpackedSizeFits(const std::string& path, uint64_t totalUnpackedSize);

struct ArchiveOutput {
  ReplacedFile replaced;  // what stands at the path, locked
  PendingOutputPtr pending;
  ChunkFilePtr file;
};

// The file that stands at the archive's path, for telling inputs from it;
// null when none does.
const struct stat* ReplacedArchive(const ArchiveOutput& output);

// Locks what stands at `path` and opens the pending file beside it, with
// that file's permissions and owner; false, reported, when the archive
// cannot be written there.
bool OpenArchiveOutput(const std::string& path, ArchiveOutput* output);

// Closes the pending file and puts it at the output's path, synced to disk;
// false, reported, on failure or when another program changed the file
// there meanwhile.
bool PlaceArchiveOutput(ArchiveOutput& output, const std::string& path);

}  // namespace unpak
