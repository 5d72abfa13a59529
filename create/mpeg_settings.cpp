#include "create/mpeg_settings.h"

uint32_t DefaultKbps(uint32_t mpegRate) { return Layer3FrameSamples(mpegRate) == 1152 ? 128 : 64; }
