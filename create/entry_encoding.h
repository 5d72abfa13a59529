#pragma once

// One planned entry's encoding in its two halves: the audio encoded, which
// may run ahead of the entry's turn, and the payload handed to the archive's
// writer in its turn.

#include <sys/stat.h>

#include <string>

#include "create/archive_steps.h"

namespace unpak {

// Begins the entry's "Compressing" line and encodes its audio into
// entry.plan.parts.mp3, with a "#" per pass. False, with the reason, when
// the input cannot be read or encoded, or changed since it was planned.
bool EncodeEntryAudio(PlannedEntry& entry, const struct stat* archive, std::string* reason);

// Hands the encoded entry's payload to `write` (unless its audio failed to
// encode, with `reason`), ends its line and frees its parts; reports a
// failure, naming the input or the archive at `archivePath`, whichever was
// at fault.
StepResult WriteEncodedEntry(PlannedEntry& entry, bool encoded, std::string reason,
                             const std::string& archivePath, const PayloadWriter& write);

}  // namespace unpak
