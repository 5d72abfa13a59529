#pragma once

// Writes an archive into a file as its payloads come, so that no more than
// one payload is held in memory: room for the tables first, then each
// payload in turn, then the tables.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "archive/pak_writer.h"
#include "platform/chunk_file.h"

namespace unpak {

struct PakFileWriter {
  ChunkFile* file = nullptr;
  std::vector<PakRecord> records;  // paths and targets known from the start
  size_t written = 0;              // payloads written so far
  uint64_t end = 0;                // where the next payload goes
};

// Starts the archive of `records` (payload sizes still unknown) in `file`,
// a new file on disk. False, with the reason, on a write failure.
bool BeginPakFile(ChunkFile& file, std::vector<PakRecord> records, PakFileWriter* writer,
                  std::string* reason);

// Writes the next entry's payload. False, with the reason, on a write
// failure or when the archive would grow past 4 GiB.
bool WritePakPayload(PakFileWriter& writer, const std::vector<uint8_t>& payload,
                     std::string* reason);

// The pieces the functions above are made of, for archives whose tables are
// built otherwise: room for `tablesSize` bytes of tables in `file`; one
// payload appended, its offset in `offset`; the tables written over the room.
bool ReservePakTables(ChunkFile& file, uint64_t tablesSize, PakFileWriter* writer,
                      std::string* reason);
bool AppendPakPayload(PakFileWriter& writer, std::span<const uint8_t> payload, uint32_t* offset,
                      std::string* reason);
bool WritePakTables(PakFileWriter& writer, std::span<const uint8_t> tables, std::string* reason);

// Writes the tables once every payload is in. False, with the reason, on a
// write failure.
bool FinishPakFile(PakFileWriter& writer, uint32_t totalUnpackedSize, std::string* reason);

}  // namespace unpak
