#include "tools/mp3_encoder.h"

#include <lame/lame.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "convert/mpeg_frame_header.h"

namespace {

struct LameDeleter {
  void operator()(lame_global_flags* flags) const { lame_close(flags); }
};
using LamePtr = std::unique_ptr<lame_global_flags, LameDeleter>;

uint16_t LargestFrame(const std::vector<uint8_t>& bytes) {
  size_t largest = 0;
  for (size_t at = 0; at + kMpegFrameHeaderSize <= bytes.size();) {
    const std::optional<MpegFrameHeader> header = ParseMpegFrameHeader(bytes.data() + at);
    if (!header) break;
    largest = std::max(largest, header->length);
    at += header->length;
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
