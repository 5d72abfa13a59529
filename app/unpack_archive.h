#pragma once

// Unpacks every entry of the archive at `archivePath` into the current
// directory. Returns the exit status: 0 when every entry was written, 1 when
// any entry failed, -1 when the archive cannot be read at all.
int UnpackArchive(const char* archivePath);
