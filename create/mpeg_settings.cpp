#include "create/mpeg_settings.h"

namespace unpak {

uint32_t DefaultKbps(uint32_t mpegRate) { return Layer3FrameSamples(mpegRate) == 1152 ? 128 : 64; }

}  // namespace unpak
