#pragma once

// Builds archives and entry payloads: `pak create` writes its archives with
// these, and the tests build theirs.

#include <cstdint>
#include <string>
#include <vector>

#include "archive/pak_format.h"
#include "platform/wave_format.h"

namespace unpak {

struct PakEntrySource {
  std::string path;                   // backslash-separated output path
  std::vector<uint8_t> targetFormat;  // at most 22 bytes; padded with zeros
  std::vector<uint8_t> payload;       // a RIFF WAVE file
};

// Header, entry table, name table, then the payloads, in that order.
std::vector<uint8_t> BuildPak(const std::vector<PakEntrySource>& entries,
                              uint32_t totalUnpackedSize);

// What the tables say of one entry.
struct PakRecord {
  std::string path;
  std::vector<uint8_t> targetFormat;
  uint32_t payloadSize = 0;
};

// The header, entry table and name table, for payloads that follow them
// back to back in the records' order.
std::vector<uint8_t> BuildPakTables(const std::vector<PakRecord>& records,
                                    uint32_t totalUnpackedSize);

// The header, the entry table of `entries` as they are, then `nameTable`,
// which their name offsets point into.
std::vector<uint8_t> BuildPakTablesOf(const std::vector<PakEntry>& entries,
                                      const std::vector<uint8_t>& nameTable,
                                      uint32_t totalUnpackedSize);

struct RiffChunk {
  std::string id;             // four characters
  std::vector<uint8_t> data;  // padded to even length when written
};

// "RIFF" <size> "WAVE" followed by the chunks in order.
std::vector<uint8_t> BuildRiffWave(const std::vector<RiffChunk>& chunks);

// The chunks of an entry payload: "fmt " (the source format), the chunks the
// output is not to carry, "skee" (decodedLength), the chunks it is to carry,
// "data" (the MP3 stream), then the tail chunks.
struct PayloadParts {
  FormatBlock sourceFormat;
  std::vector<RiffChunk> dropped;
  uint32_t decodedLength = 0;
  std::vector<RiffChunk> kept;
  std::vector<uint8_t> mp3;
  std::vector<RiffChunk> tail;
};
std::vector<uint8_t> BuildEntryPayload(const PayloadParts& parts);

// An MPEG Layer-3 source format block (18 + 12 bytes).
FormatBlock MakeMpegLayer3Format(uint16_t channels, uint32_t rate, uint32_t bitrate,
                                 uint16_t blockSize, uint16_t codecDelay);
// A PCM target format (cbSize 0).
FormatBlock MakePcmFormat(uint16_t channels, uint32_t rate, uint16_t bits);

}  // namespace unpak
