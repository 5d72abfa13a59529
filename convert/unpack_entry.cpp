#include "convert/unpack_entry.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "app/directories.h"
#include "convert/decode_stream.h"
#include "convert/encode_stream.h"
#include "convert/source_format.h"
#include "platform/byte_order.h"
#include "platform/codec_service.h"
#include "platform/output_file.h"
#include "platform/scratch_file.h"
#include "platform/wave_format.h"

namespace {

constexpr int32_t kCopyBufferSize = 4096;

// Where the pieces of the payload lie.
struct PayloadLayout {
  uint32_t decodedLength = std::numeric_limits<uint32_t>::max();  // no "skee": no cap
  int64_t copyStart = 0;  // first byte after the "skee" value
  int64_t dataStart = 0;  // first byte of the compressed audio
  uint32_t compressedSize = 0;
};

bool FindPayloadLayout(ChunkFile& source, PayloadLayout* layout, std::string* reason) {
  ChunkInfo form;
  if (!ChunkDescend(source, form, nullptr, 0)) {
    *reason = "the payload is not a RIFF file";
    return false;
  }
  const int64_t formStart = ChunkSeek(source, 0, SEEK_CUR);
  ChunkInfo skee;
  skee.ckid = MakeFourCC("skee");
  const bool hasSkee = ChunkDescend(source, skee, &form, kChunkFind);
  if (hasSkee) {
    uint8_t value[4];
    if (skee.cksize < sizeof value || ChunkRead(source, value, sizeof value) != sizeof value) {
      *reason = "the payload's \"skee\" chunk is shorter than 4 bytes";
      return false;
    }
    layout->decodedLength = LoadLe32(value);
    layout->copyStart = ChunkSeek(source, 0, SEEK_CUR);
    if (!ChunkAscend(source, skee)) {
      *reason = "the payload's \"skee\" chunk runs past the end of the payload";
      return false;
    }
  } else {
    ChunkSeek(source, formStart, SEEK_SET);
  }
  ChunkInfo data;
  data.ckid = MakeFourCC("data");
  if (!ChunkDescend(source, data, &form, kChunkFind)) {
    *reason = hasSkee ? "the payload has no \"data\" chunk after its \"skee\" chunk"
                      : "the payload has no \"data\" chunk";
    return false;
  }
  layout->compressedSize = data.cksize;
  layout->dataStart = data.dataOffset;
  // Without "skee" nothing is known to be meant for the output.
  if (!hasSkee) layout->copyStart = layout->dataStart - 8;
  return true;
}

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

// The PCM format the source decodes to, checked against the encoder before
// any work is done.
bool ChooseIntermediateFormat(std::span<const uint8_t> sourceFormat,
                              std::span<const uint8_t> target, FormatBlock* intermediate,
                              std::string* reason) {
  intermediate->assign(kWaveFormatSize, 0);
  StoreLe16(intermediate->data(), kWaveFormatPcm);
  if (!CodecFormatSuggest(sourceFormat, *intermediate)) {
    *reason = "no codec decodes the source format to PCM";
    return false;
  }
  return CodecStreamOpen(*intermediate, target, reason) != nullptr;
}

// Decodes to raw PCM in a scratch file of the current directory (on the
// file system whose free space was checked), then encodes that into the
// output's "data" chunk.
bool DecodeAndEncode(ChunkFile& source, const PayloadLayout& layout,
                     std::span<const uint8_t> sourceFormat, std::span<const uint8_t> intermediate,
                     std::span<const uint8_t> target, ChunkFile& output, std::string* reason) {
  const int fd = CreateScratchFile(".", reason);
  if (fd < 0) return false;
  ChunkFilePtr scratch = OpenChunkFileOnDisk(fd);
  if (!scratch) {
    *reason = "cannot use the temporary file";
    return false;
  }
  if (!DecodeStream(*scratch, intermediate, sourceFormat, source, layout.compressedSize,
                    layout.decodedLength, reason)) {
    return Stopped(*scratch, "the temporary file", reason);
  }
  if (!ChunkFlush(*scratch) || ChunkSeek(*scratch, 0, SEEK_SET) != 0) {
    return Stopped(*scratch, "the temporary file", reason);
  }
  if (!EncodeStream(*scratch, output, intermediate, target, reason)) {
    return Stopped(output, "the output file", reason);
  }
  if (!ChunkFileClose(std::move(scratch))) {
    *reason = "reading the temporary file failed";
    return false;
  }
  return true;
}

bool RebuildEntry(const std::string& path, const uint8_t* targetFormat, const uint8_t* payload,
                  uint32_t dataSize, std::string* reason) {
  ChunkFilePtr source = OpenChunkFileInMemory(payload, dataSize);
  std::optional<FormatBlock> sourceFormat = ReadSourceFormat(*source, reason);
  if (!sourceFormat) return false;
  PayloadLayout layout;
  if (!FindPayloadLayout(*source, &layout, reason)) return false;

  const WaveFormat target = ReadWaveFormat(targetFormat);
  const std::span<const uint8_t> targetBlock(targetFormat, kWaveFormatSize + target.cbSize);
  const bool pcmTarget = target.wFormatTag == kWaveFormatPcm;
  // Other targets are decoded to this PCM format first, then encoded.
  FormatBlock intermediate;
  if (!pcmTarget && !ChooseIntermediateFormat(*sourceFormat, targetBlock, &intermediate, reason)) {
    return false;
  }

  EnsureParentDirectories(path);
  int fd = -1;
  PendingOutputPtr pending = CreatePendingOutput(NativePath(path), &fd, reason);
  if (!pending) return false;
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
  format.cksize = target.cbSize + (target.wFormatTag == kWaveFormatPcm ? 16 : 18);
  ChunkCreate(*output, format, 0);
  ChunkWrite(*output, targetFormat, static_cast<int32_t>(format.cksize));
  ChunkAscend(*output, format);

  // The chunks between the "skee" value and the "data" chunk's header.
  if (!ChunkFlush(*output) ||
      !CopyBytes(*source, layout.copyStart, layout.dataStart - layout.copyStart - 8, *output)) {
    return Stopped(*output, "the output file", reason);
  }
  ChunkSeek(*source, layout.dataStart, SEEK_SET);

  ChunkInfo data;
  data.ckid = MakeFourCC("data");
  ChunkCreate(*output, data, 0);
  if (pcmTarget) {
    if (!DecodeStream(*output, targetBlock, *sourceFormat, *source, layout.compressedSize,
                      layout.decodedLength, reason)) {
      return Stopped(*output, "the output file", reason);
    }
    ChunkFlush(*output);
  } else if (!DecodeAndEncode(*source, layout, *sourceFormat, intermediate, targetBlock, *output,
                              reason)) {
    return false;
  }
  ChunkAscend(*output, data);

  // The tail starts after the compressed audio and its pad byte, wherever
  // decoding stopped.
  const int64_t tailStart =
      layout.dataStart + int64_t{layout.compressedSize} + (layout.compressedSize & 1);
  if (!CopyBytes(*source, tailStart, int64_t{dataSize} - tailStart, *output)) {
    return Stopped(*output, "the output file", reason);
  }
  if (!ChunkAscend(*output, form) || !ChunkFlush(*output)) {
    *reason = ChunkWriteFailure(*output, "the output file");
    return false;
  }
  if (!ChunkFileClose(std::move(output))) {
    *reason = "writing the output file failed (disk full or I/O error)";
    return false;
  }
  return CommitPendingOutput(std::move(pending), reason);
}

}  // namespace

bool UnpackEntry(const std::string& path, const uint8_t* targetFormat, const uint8_t* payload,
                 uint32_t dataSize, std::string* reason) {
  // A failed allocation fails the entry alone; what it had begun is undone
  // on the way out.
  try {
    return RebuildEntry(path, targetFormat, payload, dataSize, reason);
  } catch (const std::bad_alloc&) {
    *reason = "out of memory";
    return false;
  }
}
