#include "create/replacement_entry.h"

#include <algorithm>

#include "create/chunk_positions.h"
#include "create/sound_reader.h"
#include "create/wave_chunks.h"

namespace unpak {

namespace {

bool Refuse(const std::string& why, std::string* reason) {
  *reason = why;
  return false;
}

// The old payload's chunks other than "fmt ", "skee" and "data", split where
// "skee" stood; false unless they build the payload again byte for byte, so
// that the new payload keeps every byte around the audio.
bool KeepChunks(std::span<const uint8_t> payload, uint32_t decodedLength, PayloadParts* parts,
                std::string* reason) {
  WaveChunks chunks;
  if (!ReadWaveChunks(payload.data(), payload.size(), &chunks, reason)) {
    return Refuse("the entry's payload: " + *reason, reason);
  }
  const auto skee = std::ranges::find(chunks.before, "skee", &RiffChunk::id);
  PayloadParts old;
  old.sourceFormat = chunks.format;
  old.dropped.assign(chunks.before.begin(), skee);
  if (skee != chunks.before.end()) old.kept.assign(skee + 1, chunks.before.end());
  old.decodedLength = decodedLength;
  old.mp3.assign(payload.begin() + static_cast<ptrdiff_t>(chunks.dataOffset),
                 payload.begin() + static_cast<ptrdiff_t>(chunks.dataOffset + chunks.dataLength));
  old.tail = std::move(chunks.after);
  const std::vector<uint8_t> rebuilt = BuildEntryPayload(old);
  if (!std::ranges::equal(rebuilt, payload)) {
    return Refuse("the entry's chunks around its audio cannot be kept byte for byte", reason);
  }
  parts->dropped = std::move(old.dropped);
  parts->kept = std::move(old.kept);
  parts->tail = std::move(old.tail);
  return true;
}

// The sound file's chunks other than "fmt " and "data", when it is a WAV file.
bool TakeInputChunks(const uint8_t* bytes, size_t size, PayloadParts* parts, std::string* reason) {
  WaveChunks chunks;
  if (!ReadWaveChunks(bytes, size, &chunks, reason)) {
    return Refuse("--chunks=input takes a WAV file's chunks: " + *reason, reason);
  }
  parts->kept = std::move(chunks.before);
  parts->tail = std::move(chunks.after);
  return true;
}

// The entry's MP3 stream settings, which LAME must be able to encode.
bool KeepMp3Settings(const WaveFormat& source, int quality, Mp3Settings* mp3, std::string* reason) {
  mp3->rate = source.nSamplesPerSec;
  mp3->channels = source.nChannels;
  mp3->kbps = source.nAvgBytesPerSec * 8 / 1000;
  mp3->quality = quality;
  if (Layer3RateAtOrBelow(mp3->rate) != mp3->rate || !IsLayer3Bitrate(mp3->rate, mp3->kbps) ||
      uint64_t{mp3->kbps} * 1000 != uint64_t{source.nAvgBytesPerSec} * 8) {
    return Refuse("the entry's MP3 format (" + std::to_string(source.nSamplesPerSec) + " Hz, " +
                      std::to_string(uint64_t{source.nAvgBytesPerSec} * 8) +
                      " bit/s) is not one of MPEG audio's rates and bit rates",
                  reason);
  }
  return true;
}

}  // namespace

bool PlanReplacementEntry(const uint8_t* bytes, size_t size, const EntryFacts& entry,
                          std::span<const uint8_t> payload, ChunkSource chunks, int quality,
                          CodecDelays* delays, WaveEntryPlan* plan,
                          std::vector<std::string>* pastEnd, std::string* reason) {
  const SoundReaderPtr reader = OpenSoundReader(bytes, size, reason);
  if (!reader) return false;
  const int channels = reader->info.channels;
  if (channels != 1 && channels != 2) {
    return Refuse("it has " + std::to_string(channels) + " channels; an entry holds 1 or 2",
                  reason);
  }
  plan->target.assign(entry.targetBlock.begin(), entry.targetBlock.end());
  plan->inputSize = size;
  plan->inputRate = static_cast<uint32_t>(reader->info.samplerate);
  plan->inputChannels = static_cast<uint16_t>(channels);
  const bool chunksTaken =
      chunks == ChunkSource::kInput
          ? TakeInputChunks(bytes, size, &plan->parts, reason)
          : KeepChunks(payload, entry.layout.decodedLength, &plan->parts, reason);
  if (!chunksTaken || !KeepMp3Settings(entry.source, quality, &plan->mp3, reason) ||
      !MakeMp3SourceFormat(plan->mp3, delays, &plan->parts.sourceFormat, reason)) {
    return false;
  }
  // The input's length at the target's rate, as a resampler rounds it.
  const uint64_t inputFrames = static_cast<uint64_t>(std::max<sf_count_t>(reader->info.frames, 0));
  const uint64_t targetRate = entry.target.nSamplesPerSec;
  const uint64_t frames = (2 * inputFrames * targetRate + plan->inputRate) / (2 * plan->inputRate);
  if (!ChooseEntryLengthOfFrames(plan->target, plan->parts.sourceFormat, frames, &plan->length,
                                 reason)) {
    return false;
  }
  // The frames to encode are counted at the input's rate.
  plan->length.framesToEncode =
      (plan->length.framesToEncode * plan->inputRate + targetRate - 1) / targetRate;
  plan->parts.decodedLength = plan->length.decodedLength;
  const uint64_t newFrames =
      std::min(frames, FramesInAudio(plan->target, plan->length.audioLength));
  SetFactLength(plan->parts.kept, newFrames, false);
  SetFactLength(plan->parts.tail, newFrames, false);
  *pastEnd = PositionsPastEnd(plan->parts.kept, newFrames);
  for (std::string& line : PositionsPastEnd(plan->parts.tail, newFrames))
    pastEnd->push_back(std::move(line));
  return CheckWaveEntryPlan(plan, reason);
}

}  // namespace unpak
