#include "create/mp3_encoder.h"

#include <algorithm>
#include <cmath>

namespace unpak {

namespace {

// LAME's own bound on the bytes that `frames` frames may yield.
size_t OutputRoom(size_t frames) { return frames + frames / 4 + 7200; }

float Clipped(float sample) { return std::isnan(sample) ? 0.f : std::clamp(sample, -1.f, 1.f); }

// LAME scales its input by its "scale" setting, which LAME 3.100 sets to 0.95
// of what it is asked for. The samples are scaled up by the inverse, so that
// the decoded audio keeps the input's level.
float LevelKeeping(const lame_global_flags& lame) {
  const float scale = lame_get_scale(&lame);
  return scale > 0 ? 1 / scale : 1;
}

}  // namespace

LamePtr OpenMp3Encoder(const Mp3Settings& settings, std::string* reason) {
  LamePtr lame(lame_init());
  if (!lame) {
    *reason = "cannot start the MP3 encoder";
    return nullptr;
  }
  lame_global_flags* gf = lame.get();
  lame_set_num_channels(gf, settings.channels);
  lame_set_in_samplerate(gf, static_cast<int>(settings.rate));
  lame_set_out_samplerate(gf, static_cast<int>(settings.rate));
  lame_set_mode(gf, settings.channels == 1 ? MONO : JOINT_STEREO);
  lame_set_VBR(gf, vbr_off);
  lame_set_brate(gf, static_cast<int>(settings.kbps));
  lame_set_quality(gf, settings.quality);
  lame_set_bWriteVbrTag(gf, 0);  // no Info frame in front of the audio
  lame_set_write_id3tag_automatic(gf, 0);
  if (lame_init_params(gf) < 0 || lame_get_brate(gf) != static_cast<int>(settings.kbps)) {
    *reason = "LAME does not encode " + std::to_string(settings.kbps) + " kbps at " +
              std::to_string(settings.rate) + " Hz";
    return nullptr;
  }
  return lame;
}

bool EncodeMp3(lame_global_flags& lame, const float* interleaved, size_t frames,
               std::vector<uint8_t>* mp3) {
  const int channels = lame_get_num_channels(&lame);
  std::vector<float> samples(interleaved, interleaved + frames * channels);
  const float gain = LevelKeeping(lame);
  std::transform(samples.begin(), samples.end(), samples.begin(),
                 [gain](float sample) { return Clipped(sample) * gain; });
  const size_t start = mp3->size();
  mp3->resize(start + OutputRoom(frames));
  const int count = static_cast<int>(frames);
  const int room = static_cast<int>(mp3->size() - start);
  const int written = channels == 1
                          ? lame_encode_buffer_ieee_float(&lame, samples.data(), samples.data(),
                                                          count, mp3->data() + start, room)
                          : lame_encode_buffer_interleaved_ieee_float(&lame, samples.data(), count,
                                                                      mp3->data() + start, room);
  mp3->resize(start + static_cast<size_t>(std::max(written, 0)));
  return written >= 0;
}

bool FinishMp3(lame_global_flags& lame, std::vector<uint8_t>* mp3) {
  const size_t start = mp3->size();
  mp3->resize(start + OutputRoom(0));
  const int written =
      lame_encode_flush(&lame, mp3->data() + start, static_cast<int>(mp3->size() - start));
  mp3->resize(start + static_cast<size_t>(std::max(written, 0)));
  return written >= 0;
}

}  // namespace unpak
