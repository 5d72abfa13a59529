#include "tests/support/encoded_clip.h"

#include "tools/synth.h"

EncodedClip MakeEncodedClip(int channels, int rate, int frames, uint32_t seed, int bitrateKbps) {
  EncodedClip clip;
  clip.channels = channels;
  clip.rate = rate;
  clip.bitrateKbps = bitrateKbps;
  clip.samples = SynthesizeMusic(channels, rate, frames, seed);
  clip.mp3 = EncodeMp3(clip.samples, channels, rate, bitrateKbps);
  return clip;
}

FormatBlock ClipSourceFormat(const EncodedClip& clip) {
  return MakeMpegLayer3Format(static_cast<uint16_t>(clip.channels),
                              static_cast<uint32_t>(clip.rate),
                              static_cast<uint32_t>(clip.bitrateKbps) * 1000u,
                              clip.mp3.maxFrameSize, kLameCodecDelay);
}
