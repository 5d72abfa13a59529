#pragma once

// What an entry's target format and payload say, read and checked without
// decoding anything: everything the conversion needs to begin, and what a
// listing shows.

#include <cstdint>
#include <span>
#include <string>

#include "convert/payload_layout.h"
#include "platform/wave_format.h"

namespace unpak {

struct EntryFacts {
  FormatBlock sourceFormat;  // the payload's MPEG Layer-3 block
  WaveFormat source;
  MpegLayer3Fields mpeg;
  PayloadLayout layout;
  std::span<const uint8_t> targetBlock;  // 18 + cbSize bytes of the entry's target format
  WaveFormat target;
  // For targets other than PCM, the PCM format the audio is decoded to
  // before it is encoded; empty for PCM targets.
  FormatBlock intermediate;
  // The PCM format the decode stage writes: the target or the intermediate.
  WaveFormat decoded;
  uint64_t audioBytes = 0;  // the "data" chunk's length, as far as the entry states it
  uint64_t outputSize = 0;  // the whole output file
};

// Reads and checks the entry whose target format is `targetFormat` (with a
// cbSize that fits the record) and whose payload is `payload`: a RIFF file
// with an MPEG Layer-3 "fmt " block, "skee" and "data", and a target that the
// codecs can produce from it. False, with the reason, otherwise; for a
// payload whose "fmt " chunk cannot be read, `transcriptLine` (when given)
// also receives the line unpak shows for it. `facts` points into
// `targetFormat`, which must outlive it.
bool InspectEntry(const uint8_t* targetFormat, const uint8_t* payload, uint32_t payloadSize,
                  EntryFacts* facts, std::string* reason, std::string* transcriptLine = nullptr);

// Seconds of audio that the entry's output holds.
double EntryDurationSeconds(const EntryFacts& facts);

}  // namespace unpak
