#include "convert/entry_facts.h"

#include <algorithm>

#include "convert/source_format.h"
#include "platform/byte_order.h"
#include "platform/codec_service.h"

namespace unpak {

namespace {

constexpr uint64_t kRiffHeaderSize = 12;
constexpr uint64_t kChunkHeaderSize = 8;

// Checks that the decoder turns the source into `pcm`.
bool CheckDecoding(const EntryFacts& facts, std::span<const uint8_t> pcm, std::string* reason) {
  return CodecStreamOpen(facts.sourceFormat, pcm, reason) != nullptr;
}

// The PCM format that the source decodes to, checked against the encoder.
// The encoder's size answer gives the encoded audio's length.
bool ChooseIntermediateFormat(EntryFacts* facts, std::string* reason) {
  facts->intermediate.assign(kWaveFormatSize, 0);
  StoreLe16(facts->intermediate.data(), kWaveFormatPcm);
  if (!CodecFormatSuggest(facts->sourceFormat, facts->intermediate)) {
    *reason = "no codec decodes the source format to PCM";
    return false;
  }
  CodecStreamPtr encoder = CodecStreamOpen(facts->intermediate, facts->targetBlock, reason);
  if (!encoder) return false;
  uint32_t encoded = 0;
  if (facts->layout.hasDecodedLength &&
      CodecStreamSize(*encoder, facts->layout.decodedLength, &encoded, kStreamSizeSource)) {
    facts->audioBytes = encoded;
  }
  return true;
}

// Decoded bytes the entry keeps: its cap, or without one the source's
// length at its stated bit rate.
uint64_t DecodedBytes(const EntryFacts& facts) {
  const WaveFormat& pcm = facts.decoded;
  if (facts.layout.hasDecodedLength) {
    uint64_t length = facts.layout.decodedLength;
    // Odd lengths of 8-bit audio lose two bytes when the cap cuts them.
    if (pcm.wBitsPerSample == 8 && length % 2 == 1) length = length < 2 ? 0 : length - 2;
    return length;
  }
  if (facts.source.nAvgBytesPerSec == 0) return 0;
  const uint64_t frames = uint64_t{facts.layout.compressedSize} * facts.source.nSamplesPerSec /
                          facts.source.nAvgBytesPerSec;
  return frames * pcm.nSamplesPerSec / facts.source.nSamplesPerSec * pcm.nBlockAlign;
}

}  // namespace

bool InspectEntry(const uint8_t* targetFormat, const uint8_t* payload, uint32_t payloadSize,
                  EntryFacts* facts, std::string* reason, std::string* transcriptLine) {
  ChunkFilePtr file = OpenChunkFileInMemory(payload, payloadSize);
  SourceFormatProblem problem;
  std::optional<FormatBlock> sourceFormat = ReadSourceFormat(*file, &problem);
  if (!sourceFormat) {
    *reason = problem.reason;
    if (transcriptLine != nullptr) *transcriptLine = problem.transcriptLine;
    return false;
  }
  facts->sourceFormat = std::move(*sourceFormat);
  if (!CheckSourceFormat(facts->sourceFormat, &facts->mpeg, &facts->source, reason) ||
      !FindPayloadLayout(*file, &facts->layout, reason)) {
    return false;
  }
  facts->target = ReadWaveFormat(targetFormat);
  facts->targetBlock =
      std::span<const uint8_t>(targetFormat, kWaveFormatSize + facts->target.cbSize);
  const bool pcmTarget = facts->target.wFormatTag == kWaveFormatPcm;
  if (pcmTarget) {
    if (!CheckDecoding(*facts, facts->targetBlock, reason)) return false;
    facts->decoded = facts->target;
  } else {
    if (!ChooseIntermediateFormat(facts, reason) ||
        !CheckDecoding(*facts, facts->intermediate, reason)) {
      return false;
    }
    facts->decoded = ReadWaveFormat(facts->intermediate.data());
  }
  if (pcmTarget || !facts->layout.hasDecodedLength) facts->audioBytes = DecodedBytes(*facts);
  // The encoded length without a cap is the decoded one scaled by the rates.
  if (!pcmTarget && !facts->layout.hasDecodedLength && facts->decoded.nAvgBytesPerSec != 0) {
    facts->audioBytes =
        facts->audioBytes * facts->target.nAvgBytesPerSec / facts->decoded.nAvgBytesPerSec;
  }

  const uint64_t formatSize = facts->target.cbSize + (pcmTarget ? 16 : 18);
  const int64_t copied = facts->layout.dataStart - facts->layout.copyStart - 8;
  const int64_t tail = int64_t{payloadSize} - facts->layout.tailStart;
  facts->outputSize = kRiffHeaderSize + kChunkHeaderSize + formatSize + (formatSize & 1) +
                      static_cast<uint64_t>(std::max<int64_t>(copied, 0)) + kChunkHeaderSize +
                      facts->audioBytes + (facts->audioBytes & 1) +
                      static_cast<uint64_t>(std::max<int64_t>(tail, 0));
  facts->outputSize += facts->outputSize & 1;
  return true;
}

double EntryDurationSeconds(const EntryFacts& facts) {
  const uint64_t bytesPerSecond =
      uint64_t{facts.decoded.nSamplesPerSec} * facts.decoded.nBlockAlign;
  if (bytesPerSecond == 0) return 0;
  const uint64_t decoded =
      facts.layout.hasDecodedLength ? facts.layout.decodedLength : DecodedBytes(facts);
  return static_cast<double>(decoded) / static_cast<double>(bytesPerSecond);
}

}  // namespace unpak
