#include "archive/pak_file_writer.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace unpak {

namespace {

constexpr size_t kWritePiece = 1 << 20;

bool WriteAt(ChunkFile& file, uint64_t offset, std::span<const uint8_t> bytes,
             std::string* reason) {
  bool ok = ChunkSeek(file, static_cast<int64_t>(offset), SEEK_SET) >= 0;
  for (size_t at = 0; ok && at < bytes.size(); at += kWritePiece) {
    const auto count = static_cast<int32_t>(std::min(kWritePiece, bytes.size() - at));
    ok = ChunkWrite(file, bytes.data() + at, count) == count;
  }
  if (!ok) *reason = "writing the archive failed (disk full or I/O error)";
  return ok;
}

}  // namespace

bool ReservePakTables(ChunkFile& file, uint64_t tablesSize, PakFileWriter* writer,
                      std::string* reason) {
  writer->file = &file;
  writer->written = 0;
  writer->end = tablesSize;
  return WriteAt(file, 0, std::vector<uint8_t>(tablesSize), reason);
}

bool AppendPakPayload(PakFileWriter& writer, std::span<const uint8_t> payload, uint32_t* offset,
                      std::string* reason) {
  if (writer.end + payload.size() > std::numeric_limits<uint32_t>::max()) {
    *reason = "the archive would grow past 4 GiB, more than its offsets reach";
    return false;
  }
  if (!WriteAt(*writer.file, writer.end, payload, reason)) return false;
  *offset = static_cast<uint32_t>(writer.end);
  writer.end += payload.size();
  return true;
}

bool WritePakTables(PakFileWriter& writer, std::span<const uint8_t> tables, std::string* reason) {
  if (!WriteAt(*writer.file, 0, tables, reason)) return false;
  if (!ChunkFlush(*writer.file)) {
    *reason = "writing the archive failed (disk full or I/O error)";
    return false;
  }
  return true;
}

bool BeginPakFile(ChunkFile& file, std::vector<PakRecord> records, PakFileWriter* writer,
                  std::string* reason) {
  writer->records = std::move(records);
  // The tables' size does not depend on the payload sizes they will state.
  return ReservePakTables(file, BuildPakTables(writer->records, 0).size(), writer, reason);
}

bool WritePakPayload(PakFileWriter& writer, const std::vector<uint8_t>& payload,
                     std::string* reason) {
  uint32_t offset = 0;
  if (!AppendPakPayload(writer, payload, &offset, reason)) return false;
  writer.records[writer.written++].payloadSize = static_cast<uint32_t>(payload.size());
  return true;
}

bool FinishPakFile(PakFileWriter& writer, uint32_t totalUnpackedSize, std::string* reason) {
  return WritePakTables(writer, BuildPakTables(writer.records, totalUnpackedSize), reason);
}

}  // namespace unpak
