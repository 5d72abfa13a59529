#include "tools/mp3_encoder.h"

#include <lame/lame.h>

#include <memory>

namespace {

struct LameDeleter {
  void operator()(lame_global_flags* flags) const { lame_close(flags); }
};
using LamePtr = std::unique_ptr<lame_global_flags, LameDeleter>;

// Layer III bitrates in kbps by header index, for MPEG-1 and for MPEG-2/2.5.
constexpr int kBitratesMpeg1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                    112, 128, 160, 192, 224, 256, 320, 0};
constexpr int kBitratesMpeg2[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                    64, 80, 96, 112, 128, 144, 160, 0};
constexpr int kRatesMpeg1[3] = {44100, 48000, 32000};

// Length of the Layer III frame whose header starts at `p`, or 0 when there
// is no valid header there.
size_t FrameLength(const uint8_t* p) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
  const int version = (p[1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
  const int layer = (p[1] >> 1) & 3;    // 1: Layer III
  const int bitrateIndex = p[2] >> 4;
  const int rateIndex = (p[2] >> 2) & 3;
  const int padding = (p[2] >> 1) & 1;
  if (version == 1 || layer != 1 || rateIndex == 3) return 0;
  const bool mpeg1 = version == 3;
  const int kbps = (mpeg1 ? kBitratesMpeg1 : kBitratesMpeg2)[bitrateIndex];
  if (kbps == 0) return 0;
  const int rate = kRatesMpeg1[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
  return static_cast<size_t>((mpeg1 ? 144 : 72) * kbps * 1000 / rate + padding);
}

uint16_t LargestFrame(const std::vector<uint8_t>& bytes) {
  size_t largest = 0;
  for (size_t at = 0; at + 4 <= bytes.size();) {
    const size_t length = FrameLength(bytes.data() + at);
    if (length == 0) break;
    if (length > largest) largest = length;
    at += length;
  }
  return static_cast<uint16_t>(largest);
}

}  // namespace

Mp3Stream EncodeMp3(const std::vector<int16_t>& interleaved, int channels, int rate,
                    int bitrateKbps) {
  Mp3Stream stream;
  LamePtr lame(lame_init());
  if (!lame || (channels != 1 && channels != 2)) return stream;
  lame_global_flags* gf = lame.get();
  lame_set_num_channels(gf, channels);
  lame_set_in_samplerate(gf, rate);
  lame_set_out_samplerate(gf, rate);
  lame_set_mode(gf, channels == 1 ? MONO : JOINT_STEREO);
  lame_set_VBR(gf, vbr_off);
  lame_set_brate(gf, bitrateKbps);
  lame_set_quality(gf, 2);
  lame_set_bWriteVbrTag(gf, 0);  // no Info frame in front of the audio
  lame_set_write_id3tag_automatic(gf, 0);
  if (lame_init_params(gf) < 0) return stream;

  const int frames = static_cast<int>(interleaved.size() / channels);
  std::vector<uint8_t> bytes(frames + frames / 4 + 7200);
  std::vector<int16_t> pcm(interleaved);  // the interleaved call takes non-const samples
  const int encoded = channels == 1
                          ? lame_encode_buffer(gf, pcm.data(), pcm.data(), frames, bytes.data(),
                                               static_cast<int>(bytes.size()))
                          : lame_encode_buffer_interleaved(gf, pcm.data(), frames, bytes.data(),
                                                           static_cast<int>(bytes.size()));
  if (encoded < 0) return stream;
  const int flushed =
      lame_encode_flush(gf, bytes.data() + encoded, static_cast<int>(bytes.size()) - encoded);
  if (flushed < 0) return stream;
  bytes.resize(static_cast<size_t>(encoded + flushed));
  stream.maxFrameSize = LargestFrame(bytes);
  stream.bytes = std::move(bytes);
  return stream;
}
