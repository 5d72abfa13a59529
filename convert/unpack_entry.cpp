#include "convert/unpack_entry.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "convert/decode_stream.h"
#include "convert/encode_stream.h"
#include "platform/byte_order.h"
#include "platform/scratch_file.h"

namespace unpak {

namespace {

constexpr int32_t kCopyBufferSize = 4096;

// Copies `count` bytes (or up to the source's end) from `from` on. False
// when a write fails.
bool CopyBytes(ChunkFile& source, int64_t from, int64_t count, ChunkFile& output) {
  if (count <= 0 || ChunkSeek(source, from, SEEK_SET) < 0) return true;
  std::vector<uint8_t> buffer(kCopyBufferSize);
  while (count > 0) {
    const int32_t read = ChunkRead(source, buffer.data(),
                                   static_cast<int32_t>(std::min<int64_t>(count, kCopyBufferSize)));
    if (read <= 0) break;
    if (ChunkWrite(output, buffer.data(), read) != read) return false;
    count -= read;
  }
  return true;
}

// For a step that stopped: false, with the failed write of `file` (called
// `name`) as the reason where there was one.
bool Stopped(const ChunkFile& file, const char* name, std::string* reason) {
  if (ChunkFileFailed(file)) *reason = ChunkWriteFailure(file, name);
  return false;
}

// Where scratch audio and staged outputs wait: the current directory, on the
// file system whose free space was checked, or when no output is put there
// the system's temporary directory.
std::string ScratchDirectory(OutputKeeping keeping) {
  if (keeping == OutputKeeping::kInCurrentDirectory) return ".";
  const char* temporary = std::getenv("TMPDIR");
  return temporary != nullptr && *temporary != '\0' ? temporary : "/tmp";
}

// Decodes to raw PCM in a scratch file, then encodes that into the output's
// "data" chunk.
bool DecodeAndEncode(const EntryFacts& facts, ChunkFile& source, ChunkFile& output,
                     const std::string& scratchDirectory, uint64_t* decodedBytes,
                     std::string* reason) {
  const int fd = CreateScratchFile(scratchDirectory, reason);
  if (fd < 0) return false;
  ChunkFilePtr scratch = OpenChunkFileOnDisk(fd);
  if (!scratch) {
    *reason = "cannot use the temporary file";
    return false;
  }
  if (!DecodeStream(*scratch, facts.intermediate, facts.sourceFormat, source,
                    facts.layout.compressedSize, facts.layout.decodedLength, decodedBytes,
                    reason) ||
      !ChunkFlush(*scratch) || ChunkSeek(*scratch, 0, SEEK_SET) != 0) {
    return Stopped(*scratch, "the temporary file", reason);
  }
  if (!EncodeStream(*scratch, output, facts.intermediate, facts.targetBlock, reason)) {
    return Stopped(output, "the output file", reason);
  }
  if (!ChunkFileClose(std::move(scratch))) {
    *reason = "reading the temporary file failed";
    return false;
  }
  return true;
}

// The output's descriptor: a pending file, an unnamed file or one in memory
// (whose second descriptor `unnamed` receives, to outlive the first), or a
// sink that keeps nothing.
int OpenOutput(OutputKeeping keeping, PendingOutputPtr* pending, OpenFilePtr* unnamed,
               std::string* reason) {
  if (keeping == OutputKeeping::kUnnamed || keeping == OutputKeeping::kInMemory) {
    const int fd = keeping == OutputKeeping::kInMemory
                       ? CreateMemoryFile(reason)
                       : CreateScratchFile(ScratchDirectory(keeping), reason);
    if (fd < 0) return -1;
    unnamed->reset(new OpenFile{fcntl(fd, F_DUPFD_CLOEXEC, 0)});
    if ((*unnamed)->fd >= 0) return fd;
    *reason = std::string("cannot hold the temporary file open: ") + std::strerror(errno);
    close(fd);
    return -1;
  }
  if (keeping != OutputKeeping::kDiscarded) {
    int fd = -1;
    *pending = CreatePendingOutput(ScratchDirectory(keeping), &fd, reason);
    return fd;
  }
  const int fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (fd < 0) *reason = std::string("cannot open /dev/null: ") + std::strerror(errno);
  return fd;
}

// Writes the output file; with `audioStart`, the audio is left out (a hole
// of facts.audioBytes bytes whose place it receives) instead of decoded.
bool RebuildEntry(const EntryFacts& facts, const uint8_t* payload, uint32_t payloadSize,
                  OutputKeeping keeping, EntryResult* result, std::string* reason,
                  SegmentHelpers* helpers, int64_t* audioStart) {
  ChunkFilePtr source = OpenChunkFileInMemory(payload, payloadSize);
  PendingOutputPtr pending;
  OpenFilePtr unnamed;
  const int fd = OpenOutput(keeping, &pending, &unnamed, reason);
  if (fd < 0) return false;
  ChunkFilePtr output = OpenChunkFileOnDisk(fd);
  if (!output) {
    *reason = "cannot write the output file";
    return false;
  }

  ChunkInfo form;
  form.fccType = MakeFourCC("WAVE");
  ChunkCreate(*output, form, kChunkCreateRiff);
  ChunkInfo format;
  format.ckid = MakeFourCC("fmt ");
  format.cksize = facts.target.cbSize + (facts.target.wFormatTag == kWaveFormatPcm ? 16 : 18);
  ChunkCreate(*output, format, 0);
  ChunkWrite(*output, facts.targetBlock.data(), static_cast<int32_t>(format.cksize));
  ChunkAscend(*output, format);

  // The chunks between the "skee" value and the "data" chunk's header.
  const PayloadLayout& layout = facts.layout;
  if (!ChunkFlush(*output) ||
      !CopyBytes(*source, layout.copyStart, layout.dataStart - layout.copyStart - 8, *output)) {
    return Stopped(*output, "the output file", reason);
  }
  ChunkSeek(*source, layout.dataStart, SEEK_SET);

  ChunkInfo data;
  data.ckid = MakeFourCC("data");
  ChunkCreate(*output, data, 0);
  if (audioStart != nullptr) {
    *audioStart = ChunkSeek(*output, 0, SEEK_CUR);
    ChunkSeek(*output, static_cast<int64_t>(facts.audioBytes), SEEK_CUR);
  } else if (facts.intermediate.empty()) {
    const std::span<const uint8_t> stream = CompressedAudio(payload, payloadSize, layout);
    SegmentPlan plan;
    const bool decoded =
        helpers != nullptr && PlanSegments(facts, stream, &plan)
            ? DecodeStreamInSegments(*helpers, plan, *output, facts.targetBlock, facts.sourceFormat,
                                     stream, layout.decodedLength, &result->decodedBytes, reason)
            : DecodeStream(*output, facts.targetBlock, facts.sourceFormat, *source,
                           layout.compressedSize, layout.decodedLength, &result->decodedBytes,
                           reason);
    if (!decoded) return false;
    ChunkFlush(*output);
  } else if (!DecodeAndEncode(facts, *source, *output, ScratchDirectory(keeping),
                              &result->decodedBytes, reason)) {
    return false;
  }
  ChunkAscend(*output, data);
  if (!CopyBytes(*source, layout.tailStart, int64_t{payloadSize} - layout.tailStart, *output)) {
    return Stopped(*output, "the output file", reason);
  }
  const int64_t end = ChunkSeek(*output, 0, SEEK_CUR);
  if (!ChunkAscend(*output, form) || !ChunkFlush(*output) ||
      (audioStart != nullptr && ftruncate(fd, end + (end & 1)) != 0)) {
    *reason = ChunkWriteFailure(*output, "the output file");
    return false;
  }
  if (!ChunkFileClose(std::move(output))) {
    *reason = "writing the output file failed (disk full or I/O error)";
    return false;
  }
  result->output = std::move(pending);
  result->unnamedOutput = std::move(unnamed);
  return true;
}

}  // namespace

bool UnpackEntry(const EntryFacts& facts, const uint8_t* payload, uint32_t payloadSize,
                 OutputKeeping keeping, EntryResult* result, std::string* reason,
                 SegmentHelpers* helpers) {
  // A failed allocation fails the entry alone; what it had begun is undone
  // on the way out.
  try {
    return RebuildEntry(facts, payload, payloadSize, keeping, result, reason, helpers, nullptr);
  } catch (const std::bad_alloc&) {
    *reason = "out of memory";
    return false;
  }
}

bool WriteEntryWithoutAudio(const EntryFacts& facts, const uint8_t* payload,
                            uint32_t payloadSize, OutputKeeping keeping, EntryResult* result,
                            uint64_t* audioStart, std::string* reason) {
  try {
    int64_t start = 0;
    if (!RebuildEntry(facts, payload, payloadSize, keeping, result, reason, nullptr, &start)) {
      return false;
    }
    *audioStart = static_cast<uint64_t>(start);
    return true;
  } catch (const std::bad_alloc&) {
    *reason = "out of memory";
    return false;
  }
}

}  // namespace unpak
