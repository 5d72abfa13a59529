#pragma once

#include <string>

#include "archive/pak_format.h"
#include "platform/mapped_file.h"

namespace unpak {

// Maps the archive at `path` and reads its header. Null, with the reason,
// when the file cannot be opened, mapped or read, or its header or entry
// table does not fit it.
MappedFilePtr OpenPakFile(const char* path, PakHeader* header, std::string* reason);

}  // namespace unpak
