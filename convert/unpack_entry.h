#pragma once

#include <cstdint>
#include <string>

// Rebuilds one archive entry as a WAV file at `path` (as the archive stores
// it, backslash-separated): the target format in its "fmt " chunk, the
// payload's chunks between "skee" and "data", the decoded audio, and the
// payload's tail. The file appears only when complete. False, with the
// reason, when the entry cannot be converted; nothing is then left at `path`.
bool UnpackEntry(const std::string& path, const uint8_t* targetFormat, const uint8_t* payload,
                 uint32_t dataSize, std::string* reason);
