#include "create/wave_entry.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "archive/pak_format.h"
#include "convert/entry_facts.h"
#include "create/channel_mix.h"
#include "create/chunk_positions.h"
#include "create/mp3_encoder.h"
#include "create/resampler.h"
#include "create/sound_reader.h"
#include "create/target_format.h"
#include "create/wave_chunks.h"
#include "platform/console.h"

namespace unpak {

namespace {

// MP3 frames' worth of audio encoded per pass, as unpak decodes them.
constexpr uint64_t kFramesPerPass = 32;

bool Refuse(const std::string& why, std::string* reason) {
  *reason = why;
  return false;
}

bool ChooseMp3Settings(const WaveFormat& input, const CreateSettings& settings, Mp3Settings* mp3,
                       std::string* reason) {
  mp3->rate = Layer3RateAtOrBelow(input.nSamplesPerSec);
  if (mp3->rate == 0) {
    return Refuse("its rate of " + std::to_string(input.nSamplesPerSec) +
                      " Hz is below the lowest MPEG rate, 8000 Hz",
                  reason);
  }
  mp3->channels = input.nChannels;
  mp3->kbps = settings.kbps != 0 ? settings.kbps : DefaultKbps(mp3->rate);
  mp3->quality = settings.quality;
  if (!IsLayer3Bitrate(mp3->rate, mp3->kbps)) {
    return Refuse(std::to_string(mp3->kbps) + " kbps is not a bit rate of MPEG audio at " +
                      std::to_string(mp3->rate) + " Hz (" +
                      (Layer3FrameSamples(mp3->rate) == 1152 ? "32 to 320" : "8 to 160") + " kbps)",
                  reason);
  }
  return true;
}

}  // namespace

bool CheckWaveEntryPlan(WaveEntryPlan* plan, std::string* reason) {
  uint8_t field[kTargetFormatSize] = {};
  std::copy(plan->target.begin(), plan->target.end(), field);
  const std::vector<uint8_t> payload = BuildEntryPayload(plan->parts);
  if (payload.size() > std::numeric_limits<uint32_t>::max()) {
    return Refuse("its chunks are too big for an archive entry", reason);
  }
  EntryFacts facts;
  if (!InspectEntry(field, payload.data(), static_cast<uint32_t>(payload.size()), &facts, reason))
    return Refuse("unpak could not write it back: " + *reason, reason);
  // Only where the encoder resamples is unpak's answer an upper bound.
  const bool exact =
      facts.intermediate.empty() || facts.decoded.nSamplesPerSec == facts.target.nSamplesPerSec;
  if (exact && facts.audioBytes != plan->length.audioLength) {
    return Refuse("unpak would write " + std::to_string(facts.audioBytes) +
                      " bytes of audio where " + std::to_string(plan->length.audioLength) +
                      " are meant",
                  reason);
  }
  plan->outputSize = facts.outputSize;
  return true;
}

bool PlanWaveEntry(const uint8_t* bytes, size_t size, const CreateSettings& settings,
                   CodecDelays* delays, WaveEntryPlan* plan, std::string* reason) {
  WaveChunks chunks;
  if (!ReadWaveChunks(bytes, size, &chunks, reason) ||
      !ChooseTargetFormat(chunks.format, &plan->target, reason)) {
    return false;
  }
  const WaveFormat input = ReadWaveFormat(plan->target.data());
  const SoundReaderPtr reader = OpenSoundReader(bytes, size, reason);
  if (!reader) return false;
  if (reader->info.channels != input.nChannels ||
      reader->info.samplerate != static_cast<int>(input.nSamplesPerSec)) {
    return Refuse("libsndfile reads it as " + std::to_string(reader->info.channels) +
                      " channels at " + std::to_string(reader->info.samplerate) +
                      " Hz, not as its \"fmt \" chunk says",
                  reason);
  }
  plan->inputSize = size;
  plan->inputRate = input.nSamplesPerSec;
  plan->inputChannels = input.nChannels;
  if (!ChooseMp3Settings(input, settings, &plan->mp3, reason) ||
      !MakeMp3SourceFormat(plan->mp3, delays, &plan->parts.sourceFormat, reason)) {
    return false;
  }
  const uint64_t inputFrames = static_cast<uint64_t>(std::max<sf_count_t>(reader->info.frames, 0));
  if (!ChooseEntryLength(plan->target, plan->parts.sourceFormat, inputFrames, chunks.dataLength,
                         &plan->length, reason)) {
    return false;
  }
  plan->parts.decodedLength = plan->length.decodedLength;
  plan->parts.kept = std::move(chunks.before);
  plan->parts.tail = std::move(chunks.after);
  // A part block left out shortens the audio that "fact" counts.
  const uint64_t frames = FramesInAudio(plan->target, plan->length.audioLength);
  SetFactLength(plan->parts.kept, frames, true);
  SetFactLength(plan->parts.tail, frames, true);
  return CheckWaveEntryPlan(plan, reason);
}

bool EncodeWaveEntry(const uint8_t* bytes, size_t size, WaveEntryPlan* plan, std::string* reason) {
  const SoundReaderPtr reader = OpenSoundReader(bytes, size, reason);
  if (!reader) return false;
  const Mp3Settings& mp3 = plan->mp3;
  if (size != plan->inputSize || reader->info.channels != plan->inputChannels ||
      reader->info.samplerate != static_cast<int>(plan->inputRate)) {
    return Refuse("it changed since it was checked", reason);
  }
  LamePtr lame = OpenMp3Encoder(mp3, reason);
  if (!lame) return false;
  std::unique_ptr<Resampler> resampler;
  if (plan->inputRate != mp3.rate) {
    resampler = CreateResampler(plan->inputRate, mp3.rate, mp3.channels, reason);
    if (!resampler) return false;
  }
  const uint64_t passFrames =
      kFramesPerPass * Layer3FrameSamples(mp3.rate) * plan->inputRate / mp3.rate;
  const uint16_t channels = plan->inputChannels;
  std::vector<float> input(passFrames * channels);
  std::vector<float> mixed;
  std::vector<float> resampled;
  std::vector<uint8_t>& stream = plan->parts.mp3;
  stream.clear();
  uint64_t done = 0;
  bool more = true;
  while (more) {
    size_t frames = ReadSoundFrames(*reader, input.data(), passFrames);
    // Past the input's end, silence up to the frames the stream must cover.
    if (frames < passFrames) {
      const uint64_t missing = plan->length.framesToEncode > done + frames
                                   ? plan->length.framesToEncode - done - frames
                                   : 0;
      const size_t padding = static_cast<size_t>(std::min<uint64_t>(missing, passFrames - frames));
      std::fill_n(input.begin() + static_cast<ptrdiff_t>(frames * channels), padding * channels,
                  0.f);
      frames += padding;
      more = frames == passFrames;
    }
    done += frames;
    const float* samples = input.data();
    if (channels != mp3.channels) {
      MixChannels(samples, frames, mp3.channels, &mixed);
      samples = mixed.data();
    }
    if (resampler) {
      if (!Resample(*resampler, samples, frames, !more, &resampled, reason)) return false;
      samples = resampled.data();
      frames = resampled.size() / mp3.channels;
    }
    if (!EncodeMp3(*lame, samples, frames, &stream)) {
      return Refuse("the MP3 encoder failed", reason);
    }
    if (frames > 0) ConsolePrint("#");
  }
  if (!FinishMp3(*lame, &stream)) return Refuse("the MP3 encoder failed", reason);
  return true;
}

}  // namespace unpak
