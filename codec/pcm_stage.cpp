#include "codec/pcm_stage.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace unpak {

namespace {

// Output frames that soxr (high quality) may hold back at a rate ratio of 1
// or less; upsampling holds back this many times the ratio. Measured across
// rates from 8000 to 96000 and input cut from 1 to 300000 frames, the most is
// 1415; the rest is headroom.
constexpr double kHeldBackFrames = 2048;

// soxr output is taken in blocks of this many frames.
constexpr size_t kResampleBlockFrames = 16384;

struct SoxrDeleter {
  void operator()(soxr* resampler) const { soxr_delete(resampler); }
};
using SoxrPtr = std::unique_ptr<soxr, SoxrDeleter>;

}  // namespace

struct PcmStage {
  uint32_t inputRate = 0;
  uint16_t inputChannels = 0;
  PcmLayout output;
  SoxrPtr resampler;  // null when the rate stays
  double ratio = 1;   // output rate / input rate
  // Frames taken in and put out at the output rate, for the exact bound.
  uint64_t framesIn = 0;
  uint64_t framesOut = 0;
  bool ended = false;
  std::vector<int16_t> remixed;    // input at the output's channel count
  std::vector<int16_t> resampled;  // one block of soxr output
};

void PcmStageDeleter::operator()(PcmStage* stage) const { delete stage; }

namespace {

// Remixes `frames` input frames to the output's channel count: stereo to mono
// is the floor of the mean, mono to stereo duplicates.
const int16_t* Remix(PcmStage& stage, const int16_t* input, size_t frames) {
  if (stage.inputChannels == stage.output.channels) return input;
  stage.remixed.resize(frames * stage.output.channels);
  int16_t* out = stage.remixed.data();
  if (stage.output.channels == 1) {
    for (size_t i = 0; i < frames; ++i) {
      out[i] = static_cast<int16_t>((input[2 * i] + input[2 * i + 1]) >> 1);
    }
  } else {
    for (size_t i = 0; i < frames; ++i) out[2 * i] = out[2 * i + 1] = input[i];
  }
  return out;
}

// Appends `samples` 16-bit samples in the output's width.
void AppendInWidth(const PcmStage& stage, const int16_t* samples, size_t count,
                   std::vector<uint8_t>* output) {
  if (count == 0) return;
  const size_t width = stage.output.bits / 8u;
  const size_t start = output->size();
  output->resize(start + count * width);
  uint8_t* out = output->data() + start;
  switch (stage.output.bits) {
    case 8:
      for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>((samples[i] >> 8) + 128);
      break;
    case 16:
      std::memcpy(out, samples, count * 2);
      break;
    default:  // 24 and 32: the sample in the top two bytes, zeros below
      std::memset(out, 0, count * width);
      for (size_t i = 0; i < count; ++i) {
        const uint16_t bits = static_cast<uint16_t>(samples[i]);
        out[i * width + width - 2] = static_cast<uint8_t>(bits);
        out[i * width + width - 1] = static_cast<uint8_t>(bits >> 8);
      }
      break;
  }
}

// Runs `frames` frames through soxr (or, with `input` null, flushes it) and
// appends everything that comes out.
bool Resample(PcmStage& stage, const int16_t* input, size_t frames, std::vector<uint8_t>* output,
              std::string* reason) {
  const uint16_t channels = stage.output.channels;
  stage.resampled.resize(kResampleBlockFrames * channels);
  for (;;) {
    size_t taken = 0;
    size_t made = 0;
    const soxr_error_t error =
        soxr_process(stage.resampler.get(), input, frames, input ? &taken : nullptr,
                     stage.resampled.data(), kResampleBlockFrames, &made);
    if (error) {
      *reason = std::string("resampling failed: ") + error;
      return false;
    }
    AppendInWidth(stage, stage.resampled.data(), made * channels, output);
    stage.framesOut += made;
    if (!input) {
      if (made == 0) return true;  // flushed
      continue;
    }
    input += taken * channels;
    frames -= taken;
    // soxr takes input only while its output fits; a full block means more may follow.
    if (frames == 0 && made < kResampleBlockFrames) return true;
    if (taken == 0 && made == 0) {
      *reason = "the resampler took no input and gave no output";
      return false;
    }
  }
}

}  // namespace

PcmStagePtr CreatePcmStage(uint32_t inputRate, uint16_t inputChannels, const PcmLayout& output,
                           std::string* reason) {
  PcmStagePtr stage(new PcmStage);
  stage->inputRate = inputRate;
  stage->inputChannels = inputChannels;
  stage->output = output;
  stage->ratio = static_cast<double>(output.rate) / inputRate;
  if (inputRate != output.rate) {
    // Undithered, so that the output depends on the input alone.
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    stage->resampler.reset(
        soxr_create(inputRate, output.rate, output.channels, &error, &io, &quality, nullptr));
    if (!stage->resampler || error) {
      *reason = std::string("cannot create the resampler: ") + (error ? error : "no memory");
      return nullptr;
    }
  }
  return stage;
}

bool PcmStageProcess(PcmStage& stage, const int16_t* input, size_t frames, bool end,
                     std::vector<uint8_t>* output, std::string* reason) {
  if (stage.ended) {
    if (frames == 0) return true;
    *reason = "the PCM conversion has ended and takes no more input";
    return false;
  }
  stage.ended = end;
  stage.framesIn += frames;
  const int16_t* remixed = frames > 0 ? Remix(stage, input, frames) : input;
  if (!stage.resampler) {
    AppendInWidth(stage, remixed, frames * stage.output.channels, output);
    stage.framesOut += frames;
    return true;
  }
  if (frames > 0 && !Resample(stage, remixed, frames, output, reason)) return false;
  return !end || Resample(stage, nullptr, 0, output, reason);
}

uint64_t PcmStageMaxOutputBytes(const PcmStage& stage, uint64_t frames) {
  const uint64_t frameBytes = stage.output.channels * (stage.output.bits / 8u);
  if (!stage.resampler) return frames * frameBytes;
  // After the end soxr has put out round(input frames × ratio) frames in all,
  // so what is still to come from here is known exactly...
  const auto total = static_cast<uint64_t>(
      std::floor(static_cast<double>(stage.framesIn + frames) * stage.ratio + 0.5));
  const uint64_t exact = total > stage.framesOut ? total - stage.framesOut : 0;
  // ...but a bound that holds from any state serves callers that size a
  // buffer once: the new frames plus the most soxr ever holds back.
  const auto anyState =
      static_cast<uint64_t>(std::ceil(static_cast<double>(frames) * stage.ratio +
                                      kHeldBackFrames * std::max(1.0, stage.ratio))) +
      2;
  return std::max(exact, anyState) * frameBytes;
}

}  // namespace unpak
