#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/chunk_file.h"
#include "platform/wave_format.h"

namespace unpak {

// Why a source format block cannot be read.
struct SourceFormatProblem {
  std::string reason;
  // For a "fmt " chunk that is missing or shorter than a format header, the
  // line unpak shows on the entry's transcript line; empty otherwise.
  std::string transcriptLine;
};

// Reads the format block of the RIFF file at `source`'s current position from
// its "fmt " chunk: 18 + cbSize bytes, cbSize taken as 0 for PCM. Afterwards
// the source stands at position 0. Nothing, with the problem, when the chunk
// is missing or shorter than it claims.
std::optional<FormatBlock> ReadSourceFormat(ChunkFile& source, SourceFormatProblem* problem);

// Checks that `sourceFormat` is an MPEG Layer-3 block whose fields the decode
// loop can divide by and size its buffers with. False, with the reason, if not.
bool CheckSourceFormat(std::span<const uint8_t> sourceFormat, MpegLayer3Fields* fields,
                       WaveFormat* format, std::string* reason);

}  // namespace unpak
