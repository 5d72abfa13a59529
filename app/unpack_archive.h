#pragma once

#include <cstddef>
#include <cstdint>

// Unpacks every entry of the archive at `archivePath` into the current
// directory. Returns the exit status: 0 when every entry was written, 1 when
// any entry failed, -1 when the archive cannot be read at all or the user
// chose not to go on for want of free space.
int UnpackArchive(const char* archivePath);

// The same for an archive already in memory; `name` names it in messages.
int UnpackArchiveBytes(const uint8_t* archive, size_t size, const char* name);
