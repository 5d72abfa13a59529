#pragma once

// The target format an archive entry asks unpak to write: the input's own
// "fmt " block, so that unpak writes the same format back.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/wave_format.h"

namespace unpak {

// The block for the "fmt " chunk contents `format`: the block itself, or for
// WAVE_FORMAT_EXTENSIBLE the plain PCM or IEEE float block it stands for.
// False, with the reason, when the format has other than 1 or 2 channels or
// the block cannot be held by the archive's 22-byte target field.
bool ChooseTargetFormat(const std::vector<uint8_t>& format, FormatBlock* target,
                        std::string* reason);

}  // namespace unpak
