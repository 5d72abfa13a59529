#include "tests/support/encoded_clip.h"

#include <string>

#include "create/mp3_encoder.h"
#include "tools/synth.h"

namespace unpak {

EncodedClip MakeEncodedClip(int channels, int rate, int frames, uint32_t seed, int bitrateKbps) {
  EncodedClip clip{channels, rate, bitrateKbps, SynthesizeMusic(channels, rate, frames, seed),
                   {},       0};
  const Mp3Settings settings{static_cast<uint32_t>(rate), static_cast<uint16_t>(channels),
                             static_cast<uint32_t>(bitrateKbps)};
  std::vector<float> samples(clip.samples.begin(), clip.samples.end());
  for (float& sample : samples) sample /= 32768.f;
  std::string reason;
  LamePtr lame = OpenMp3Encoder(settings, &reason);
  if (lame) {
    EncodeMp3(*lame, samples.data(), static_cast<size_t>(frames), &clip.mp3);
    FinishMp3(*lame, &clip.mp3);
  }
  clip.blockSize = Layer3FrameBytes(settings.rate, settings.kbps);
  return clip;
}

FormatBlock ClipSourceFormat(const EncodedClip& clip) {
  return MakeMpegLayer3Format(
      static_cast<uint16_t>(clip.channels), static_cast<uint32_t>(clip.rate),
      static_cast<uint32_t>(clip.bitrateKbps) * 1000u, clip.blockSize, kLameCodecDelay);
}

}  // namespace unpak
