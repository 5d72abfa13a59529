#include "create/codec_delay.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <vector>

#include "archive/pak_writer.h"
#include "convert/decode_stream.h"
#include "create/mp3_encoder.h"
#include "platform/byte_order.h"
#include "platform/chunk_file.h"
#include "platform/console.h"

namespace unpak {

namespace {

// The probe lasts this many MP3 frames; the lags tried span this many, and
// the correlation is taken from the probe's second frame on over what is
// left, where the encoder has settled and the decoded audio reaches.
constexpr uint32_t kProbeFrames = 12;
constexpr uint32_t kLagFrames = 4;
constexpr uint32_t kWindowFrames = kProbeFrames - 1 - kLagFrames;
// Below this correlation coefficient no lag is taken to stand out.
constexpr double kLeastCorrelation = 0.5;

// A sweep from 100 Hz up to half the encoder's lowpass frequency (at most
// 2 kHz), the same in every channel: tonal, kept by the encoder and whole
// under joint stereo even at the lowest bit rates, and like itself at no
// other lag.
std::vector<float> ProbeSignal(size_t frames, uint32_t rate, uint16_t channels, int lowpass) {
  const double low = 100;
  const double high = std::min(2000.0, (lowpass > 0 ? lowpass : rate / 2) / 2.0);
  const double seconds = static_cast<double>(frames) / rate;
  std::vector<float> samples(frames * channels);
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double phase = 2 * std::numbers::pi * (low * t + (high - low) * t * t / (2 * seconds));
    std::fill_n(samples.begin() + static_cast<ptrdiff_t>(i * channels), channels,
                static_cast<float>(0.25 * std::sin(phase)));
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
  uint64_t bytes = 0;
  {
    ConsoleCapture quiet;  // the decode stage's progress marks
    const ScopedConsoleCapture capture(quiet);
    if (!DecodeStream(*output, pcm, source, *input, static_cast<uint32_t>(mp3.size()),
                      std::numeric_limits<uint32_t>::max(), &bytes, reason)) {
      return false;
    }
  }
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

// The lag of `decoded` (its channels summed) behind the probe with the
// highest correlation coefficient over the window; -1 when none reaches
// kLeastCorrelation.
int BestLag(const std::vector<float>& probe, const std::vector<int16_t>& decoded, uint16_t channels,
            size_t start, size_t window, size_t lags) {
  std::vector<double> mixed(decoded.size() / channels);
  for (size_t i = 0; i < decoded.size(); ++i) mixed[i / channels] += decoded[i] / 32768.0;
  double probeEnergy = 0;
  for (size_t i = start; i < start + window; ++i) {
    probeEnergy += double{probe[i * channels]} * probe[i * channels];
  }
  int best = -1;
  double bestCoefficient = kLeastCorrelation;
  for (size_t lag = 0; lag < lags && start + lag + window <= mixed.size(); ++lag) {
    double product = 0;
    double energy = 0;
    for (size_t i = start; i < start + window; ++i) {
      product += probe[i * channels] * mixed[i + lag];
      energy += mixed[i + lag] * mixed[i + lag];
    }
    const double coefficient = energy > 0 ? product / std::sqrt(energy * probeEnergy) : 0;
    if (coefficient > bestCoefficient) {
      bestCoefficient = coefficient;
      best = static_cast<int>(lag);
    }
  }
  return best;
}

}  // namespace

bool FindCodecDelay(uint32_t rate, uint16_t channels, CodecDelays* delays, uint16_t* delay,
                    std::string* reason) {
  const auto key = std::make_pair(rate, channels);
  if (const auto known = delays->measured.find(key); known != delays->measured.end()) {
    *delay = known->second;
    return true;
  }
  const Mp3Settings settings{rate, channels, DefaultKbps(rate)};
  const uint32_t frameSamples = Layer3FrameSamples(settings.rate);
  LamePtr lame = OpenMp3Encoder(settings, reason);
  if (!lame) return false;
  const std::vector<float> probe = ProbeSignal(size_t{kProbeFrames} * frameSamples, settings.rate,
                                               settings.channels, lame_get_lowpassfreq(lame.get()));
  std::vector<uint8_t> mp3;
  if (!EncodeMp3(*lame, probe.data(), probe.size() / settings.channels, &mp3) ||
      !FinishMp3(*lame, &mp3)) {
    *reason = "cannot encode the probe that measures the codec delay";
    return false;
  }
  std::vector<int16_t> decoded;
  if (!DecodeProbe(settings, mp3, &decoded, reason)) return false;
  const int lag = BestLag(probe, decoded, settings.channels, frameSamples,
                          size_t{kWindowFrames} * frameSamples, size_t{kLagFrames} * frameSamples);
  if (lag < 0) {
    *reason = "cannot measure the codec delay at " + std::to_string(settings.rate) + " Hz, " +
              std::to_string(settings.kbps) + " kbps: no lag stands out";
    return false;
  }
  *delay = static_cast<uint16_t>(lag);
  delays->measured[key] = *delay;
  return true;
}

bool MakeMp3SourceFormat(const Mp3Settings& mp3, CodecDelays* delays, FormatBlock* format,
                         std::string* reason) {
  uint16_t delay = 0;
  if (!FindCodecDelay(mp3.rate, mp3.channels, delays, &delay, reason)) return false;
  *format = MakeMpegLayer3Format(mp3.channels, mp3.rate, mp3.kbps * 1000,
                                 Layer3FrameBytes(mp3.rate, mp3.kbps), delay);
  return true;
}

}  // namespace unpak
