#include "archive/pak_writer.h"

#include <algorithm>

#include "archive/pak_format.h"
#include "platform/byte_order.h"

namespace unpak {

namespace {

void AppendLe32(std::vector<uint8_t>* out, uint32_t value) {
  uint8_t bytes[4];
  StoreLe32(bytes, value);
  out->insert(out->end(), bytes, bytes + 4);
}

void AppendFourCC(std::vector<uint8_t>* out, const std::string& id) {
  std::string code = id;
  code.resize(4, ' ');
  out->insert(out->end(), code.begin(), code.end());
}

// Header, data and a pad byte when the data's length is odd.
void AppendChunk(std::vector<uint8_t>* out, const RiffChunk& chunk) {
  AppendFourCC(out, chunk.id);
  AppendLe32(out, static_cast<uint32_t>(chunk.data.size()));
  out->insert(out->end(), chunk.data.begin(), chunk.data.end());
  if (chunk.data.size() % 2 != 0) {
    out->push_back(0);
  }
}

}  // namespace

std::vector<uint8_t> BuildPakTablesOf(const std::vector<PakEntry>& entries,
                                      const std::vector<uint8_t>& nameTable,
                                      uint32_t totalUnpackedSize) {
  const size_t entryTableOffset = kPakHeaderSize;
  std::vector<uint8_t> pak;
  AppendLe32(&pak, totalUnpackedSize);
  AppendLe32(&pak, static_cast<uint32_t>(entries.size()));
  AppendLe32(&pak, static_cast<uint32_t>(entryTableOffset));
  AppendLe32(&pak, static_cast<uint32_t>(entryTableOffset + entries.size() * kPakEntrySize));
  for (const PakEntry& entry : entries) {
    AppendLe32(&pak, entry.dataOffset);
    AppendLe32(&pak, entry.nameOffset);
    AppendLe32(&pak, entry.dataSize);
    pak.insert(pak.end(), entry.targetFormat, entry.targetFormat + kTargetFormatSize);
  }
  pak.insert(pak.end(), nameTable.begin(), nameTable.end());
  return pak;
}

std::vector<uint8_t> BuildPakTables(const std::vector<PakRecord>& records,
                                    uint32_t totalUnpackedSize) {
  std::vector<PakEntry> entries(records.size());
  std::vector<uint8_t> nameTable;
  for (size_t i = 0; i < records.size(); ++i) {
    entries[i].nameOffset = static_cast<uint32_t>(nameTable.size());
    entries[i].dataSize = records[i].payloadSize;
    const std::vector<uint8_t>& target = records[i].targetFormat;
    std::copy_n(target.begin(), std::min(target.size(), kTargetFormatSize),
                entries[i].targetFormat);
    nameTable.insert(nameTable.end(), records[i].path.begin(), records[i].path.end());
    nameTable.push_back('\0');
  }
  size_t dataOffset = kPakHeaderSize + records.size() * kPakEntrySize + nameTable.size();
  for (PakEntry& entry : entries) {
    entry.dataOffset = static_cast<uint32_t>(dataOffset);
    dataOffset += entry.dataSize;
  }
  return BuildPakTablesOf(entries, nameTable, totalUnpackedSize);
}

std::vector<uint8_t> BuildPak(const std::vector<PakEntrySource>& entries,
                              uint32_t totalUnpackedSize) {
  std::vector<PakRecord> records;
  for (const PakEntrySource& entry : entries) {
    records.push_back(
        {entry.path, entry.targetFormat, static_cast<uint32_t>(entry.payload.size())});
  }
  std::vector<uint8_t> pak = BuildPakTables(records, totalUnpackedSize);
  for (const PakEntrySource& entry : entries) {
    pak.insert(pak.end(), entry.payload.begin(), entry.payload.end());
  }
  return pak;
}

std::vector<uint8_t> BuildRiffWave(const std::vector<RiffChunk>& chunks) {
  std::vector<uint8_t> riff;
  AppendFourCC(&riff, "RIFF");
  AppendLe32(&riff, 0);
  AppendFourCC(&riff, "WAVE");
  for (const RiffChunk& chunk : chunks) {
    AppendChunk(&riff, chunk);
  }
  StoreLe32(riff.data() + 4, static_cast<uint32_t>(riff.size() - 8));
  return riff;
}

std::vector<uint8_t> BuildEntryPayload(const PayloadParts& parts) {
  std::vector<RiffChunk> chunks;
  chunks.push_back({"fmt ", parts.sourceFormat});
  chunks.insert(chunks.end(), parts.dropped.begin(), parts.dropped.end());
  RiffChunk skee{"skee", std::vector<uint8_t>(4)};
  StoreLe32(skee.data.data(), parts.decodedLength);
  chunks.push_back(std::move(skee));
  chunks.insert(chunks.end(), parts.kept.begin(), parts.kept.end());
  chunks.push_back({"data", parts.mp3});
  chunks.insert(chunks.end(), parts.tail.begin(), parts.tail.end());
  return BuildRiffWave(chunks);
}

FormatBlock MakeMpegLayer3Format(uint16_t channels, uint32_t rate, uint32_t bitrate,
                                 uint16_t blockSize, uint16_t codecDelay) {
  WaveFormat format;
  format.wFormatTag = kWaveFormatMpegLayer3;
  format.nChannels = channels;
  format.nSamplesPerSec = rate;
  format.nAvgBytesPerSec = bitrate / 8;
  format.nBlockAlign = 1;
  format.wBitsPerSample = 0;
  format.cbSize = kMpegLayer3ExtraSize;
  FormatBlock block = MakeFormatBlock(format);

  uint8_t* extra = block.data() + kWaveFormatSize;
  StoreLe16(extra, 1);                // wID: MPEGLAYER3_ID_MPEG
  StoreLe32(extra + 2, 0);            // fdwFlags: padding as ISO says, as LAME pads
  StoreLe16(extra + 6, blockSize);    // nBlockSize
  StoreLe16(extra + 8, 1);            // nFramesPerBlock
  StoreLe16(extra + 10, codecDelay);  // nCodecDelay
  return block;
}

FormatBlock MakePcmFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
  WaveFormat format;
  format.wFormatTag = kWaveFormatPcm;
  format.nChannels = channels;
  format.nSamplesPerSec = rate;
  format.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
  format.nAvgBytesPerSec = rate * format.nBlockAlign;
  format.wBitsPerSample = bits;
  format.cbSize = 0;
  return MakeFormatBlock(format);
}

}  // namespace unpak
