#include "archive/pak_file_writer.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {

constexpr size_t kWritePiece = 1 << 20;

bool WriteAt(ChunkFile& file, uint64_t offset, const std::vector<uint8_t>& bytes,
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

bool BeginPakFile(ChunkFile& file, std::vector<PakRecord> records, PakFileWriter* writer,
                  std::string* reason) {
  writer->file = &file;
  writer->records = std::move(records);
  writer->written = 0;
  // The tables' size does not depend on the payload sizes they will state.
  const std::vector<uint8_t> tables = BuildPakTables(writer->records, 0);
  writer->end = tables.size();
  return WriteAt(file, 0, std::vector<uint8_t>(tables.size()), reason);
}

bool WritePakPayload(PakFileWriter& writer, const std::vector<uint8_t>& payload,
                     std::string* reason) {
  if (writer.end + payload.size() > std::numeric_limits<uint32_t>::max()) {
    *reason = "the archive would grow past 4 GiB, more than its offsets reach";
    return false;
  }
  if (!WriteAt(*writer.file, writer.end, payload, reason)) return false;
  writer.records[writer.written++].payloadSize = static_cast<uint32_t>(payload.size());
  writer.end += payload.size();
  return true;
}

bool FinishPakFile(PakFileWriter& writer, uint32_t totalUnpackedSize, std::string* reason) {
  if (!WriteAt(*writer.file, 0, BuildPakTables(writer.records, totalUnpackedSize), reason)) {
    return false;
  }
  if (!ChunkFlush(*writer.file)) {
    *reason = "writing the archive failed (disk full or I/O error)";
    return false;
  }
  return true;
}
