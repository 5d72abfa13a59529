#pragma once

// Files that already stand at an entry's path, and whether the run leaves
// them as they are (-k, --keep-newer-files) rather than replacing them.

#include <string>

#include "archive/entry_selection.h"
#include "run/unpack_options.h"

namespace unpak {

// How an entry whose existing file was kept is reported.
inline constexpr char kKeptExistingFile[] = "kept the existing file";

// Whether the file `name` in the directory `directory` (a descriptor, or
// AT_FDCWD) stays: any file but a folder with ExistingFiles::kKeep, one
// modified after the archive with ExistingFiles::kKeepNewer. Links are not
// followed.
bool KeepsExistingFile(const OpenedArchive& archive, const UnpackOptions& options, int directory,
                       const std::string& name);

}  // namespace unpak
