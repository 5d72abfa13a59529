#pragma once

// The chunks around an entry's audio that state its length or positions in
// it, in sample frames: "fact" (the length), "cue " (cue points), "smpl"
// (loops) and "LIST" of type "adtl" (the lengths of labelled regions).

#include <cstdint>
#include <string>
#include <vector>

#include "archive/pak_writer.h"

namespace unpak {

// Sets the length that each "fact" chunk among `chunks` states to `frames`,
// or lowers it to `frames`, as `lowerOnly` says.
void SetFactLength(std::vector<RiffChunk>& chunks, uint64_t frames, bool lowerOnly);

// One line per cue point, loop or region among `chunks` that lies past the
// end of audio `frames` long, naming the chunk and the position.
std::vector<std::string> PositionsPastEnd(const std::vector<RiffChunk>& chunks, uint64_t frames);

}  // namespace unpak
