#include "tests/support/encoded_clip.h"

#include "tools/synth.h"

EncodedClip MakeEncodedClip(int channels, int rate, int frames, uint32_t seed, int bitrateKbps) {
  std::vector<int16_t> samples = SynthesizeMusic(channels, rate, frames, seed);
  Mp3Stream mp3 = EncodeMp3(samples, channels, rate, bitrateKbps);
  return {channels, rate, bitrateKbps, std::move(samples), std::move(mp3)};
}

FormatBlock ClipSourceFormat(const EncodedClip& clip) {
  return MakeMpegLayer3Format(
      static_cast<uint16_t>(clip.channels), static_cast<uint32_t>(clip.rate),
      static_cast<uint32_t>(clip.bitrateKbps) * 1000u, clip.mp3.maxFrameSize, kLameCodecDelay);
}
