#include "create/codec_delay.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "archive/pak_writer.h"
#include "convert/decode_stream.h"
#include "create/mp3_encoder.h"
#include "platform/byte_order.h"
#include "platform/chunk_file.h"
#include "platform/console.h"

namespace {

// The probe lasts this many MP3 frames; the lags tried span up to this many.
constexpr uint32_t kProbeFrames = 12;
constexpr uint32_t kLagFrames = 4;
// The correlation is taken over this many sample frames from the probe's
// second MP3 frame on, where the encoder has settled.
constexpr size_t kWindow = 4096;
// Below this correlation coefficient no lag is taken to stand out.
constexpr double kLeastCorrelation = 0.5;

// Noise, smoothed a little so that most of it passes the encoder's lowpass
// filter even at the lowest bit rates; each channel its own.
std::vector<float> ProbeSignal(size_t frames, uint16_t channels) {
  std::vector<float> samples(frames * channels);
  uint32_t state = 1;
  std::vector<float> previous(channels, 0.f);
  for (size_t i = 0; i < samples.size(); ++i) {
    state = state * 1664525u + 1013904223u;  // Numerical Recipes' LCG
    const float noise = static_cast<float>(state >> 8) / (1u << 23) - 1.f;
    float& last = previous[i % channels];
    samples[i] = 0.25f * (noise + last);
    last = noise;
  }
  return samples;
}

// The probe's MP3 stream decoded by unpak's decode stage, nothing cut, as
// interleaved 16-bit samples.
bool DecodeProbe(const Mp3Settings& settings, const std::vector<uint8_t>& mp3,
                 std::vector<int16_t>* decoded, std::string* reason) {
  const int fd = memfd_create("codec-delay", MFD_CLOEXEC);
  ChunkFilePtr output = OpenChunkFileOnDisk(fd);
  if (!output) {
    *reason = "cannot make room for the decoded probe";
    return false;
  }
  ChunkFilePtr input = OpenChunkFileInMemory(mp3.data(), mp3.size());
  const FormatBlock source =
      MakeMpegLayer3Format(settings.channels, settings.rate, settings.kbps * 1000,
                           Layer3FrameBytes(settings.rate, settings.kbps), 0);
  const FormatBlock pcm = MakePcmFormat(settings.channels, settings.rate, 16);
  ConsoleCapture quiet;  // the decode stage's progress marks
  SetConsoleCapture(&quiet);
  uint64_t bytes = 0;
  const bool ok = DecodeStream(*output, pcm, source, *input, static_cast<uint32_t>(mp3.size()),
                               std::numeric_limits<uint32_t>::max(), &bytes, reason);
  SetConsoleCapture(nullptr);
  if (!ok) return false;
  decoded->resize(bytes / 2);
  std::vector<uint8_t> raw(decoded->size() * 2);
  if (!ChunkFlush(*output) || ChunkSeek(*output, 0, SEEK_SET) != 0 ||
      ChunkRead(*output, raw.data(), static_cast<int32_t>(raw.size())) !=
          static_cast<int32_t>(raw.size())) {
    *reason = "cannot read the decoded probe back";
    return false;
  }
  for (size_t i = 0; i < decoded->size(); ++i)
    (*decoded)[i] = static_cast<int16_t>(LoadLe16(&raw[2 * i]));
  return true;
}

// The lag of `decoded` behind `probe` with the highest correlation
// coefficient over the window; -1 when none reaches kLeastCorrelation.
int BestLag(const std::vector<float>& probe, const std::vector<int16_t>& decoded, uint16_t channels,
            size_t start, int lags) {
  double probeEnergy = 0;
  for (size_t i = start * channels; i < (start + kWindow) * channels; ++i) {
    probeEnergy += double{probe[i]} * probe[i];
  }
  int best = -1;
  double bestCoefficient = kLeastCorrelation;
  for (int lag = 0; lag < lags; ++lag) {
    const size_t from = (start + static_cast<size_t>(lag)) * channels;
    if (from + kWindow * channels > decoded.size()) break;
    double product = 0;
    double energy = 0;
    for (size_t i = 0; i < kWindow * channels; ++i) {
      const double sample = decoded[from + i] / 32768.0;
      product += probe[start * channels + i] * sample;
      energy += sample * sample;
    }
    const double coefficient = energy > 0 ? product / std::sqrt(energy * probeEnergy) : 0;
    if (coefficient > bestCoefficient) {
      bestCoefficient = coefficient;
      best = lag;
    }
  }
  return best;
}

}  // namespace

bool FindCodecDelay(const Mp3Settings& settings, CodecDelays* delays, uint16_t* delay,
                    std::string* reason) {
  const auto key =
      std::make_tuple(settings.rate, settings.channels, settings.kbps, settings.quality);
  if (const auto known = delays->measured.find(key); known != delays->measured.end()) {
    *delay = known->second;
    return true;
  }
  const uint32_t frameSamples = Layer3FrameSamples(settings.rate);
  const std::vector<float> probe =
      ProbeSignal(size_t{kProbeFrames} * frameSamples, settings.channels);
  std::vector<uint8_t> mp3;
  LamePtr lame = OpenMp3Encoder(settings, reason);
  if (!lame) return false;
  if (!EncodeMp3(*lame, probe.data(), probe.size() / settings.channels, &mp3) ||
      !FinishMp3(*lame, &mp3)) {
    *reason = "cannot encode the probe that measures the codec delay";
    return false;
  }
  std::vector<int16_t> decoded;
  if (!DecodeProbe(settings, mp3, &decoded, reason)) return false;
  const int lag = BestLag(probe, decoded, settings.channels, frameSamples,
                          static_cast<int>(kLagFrames * frameSamples));
  if (lag < 0) {
    *reason = "cannot measure the codec delay at " + std::to_string(settings.rate) + " Hz, " +
              std::to_string(settings.kbps) + " kbps: no lag stands out";
    return false;
  }
  *delay = static_cast<uint16_t>(lag);
  delays->measured[key] = *delay;
  return true;
}
