#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "archive/pak_writer.h"
#include "platform/byte_order.h"
#include "platform/codec_service.h"
#include "platform/mpeg_layer3.h"
#include "tests/codec/codec_test_support.h"
#include "tests/support/audio_reference.h"
#include "tests/support/encoded_clip.h"
#include "tests/support/wave_bytes.h"

namespace unpak {

namespace {

using Mp3Driver = CodecModuleTest;

// About 0.6 s of music at a constant bitrate.
EncodedClip Clip(int channels, int rate, int kbps) {
  return MakeEncodedClip(channels, rate, rate * 6 / 10, 7, kbps);
}

// The values that a PCM target of `bits` holds for 16-bit samples: the high
// byte at 8 bits, the sample shifted up at 24 and 32.
std::vector<int32_t> ScaledTo(const std::vector<int16_t>& samples, int bits) {
  std::vector<int32_t> values;
  for (int16_t s : samples) values.push_back(bits == 8 ? s >> 8 : s * (1 << (bits - 16)));
  return values;
}

// libmpg123's decoding of the whole clip, nothing trimmed.
std::vector<int16_t> Reference(const EncodedClip& clip) {
  return DecodeInPasses(clip.mp3, clip.mp3.size()).front();
}

// Sources in blocks of 4 bytes, for calls with kConvertBlockAlign to take.
StreamRun Decode(const EncodedClip& clip, int channels, int rate, int bits, uint32_t pass = 4096,
                 uint32_t destination = kLarge, uint32_t flags = 0) {
  FormatBlock source = ClipSourceFormat(clip);
  StoreLe16(source.data() + 12, 4);
  return RunStream(source, MakePcmFormat(channels, rate, bits), clip.mp3, pass, destination, flags);
}

TEST_F(Mp3Driver, OutputIsLibmpg123sConvertedHoweverTheStreamIsCut) {
  const EncodedClip stereo = Clip(2, 44100, 128), mono = Clip(1, 22050, 48);
  // Stereo targets; the mono clip comes out duplicated.
  const std::tuple<const EncodedClip*, int, int> targets[] = {
      {&stereo, 44100, 16}, {&mono, 22050, 16},   {&stereo, 44100, 8}, {&stereo, 44100, 24},
      {&stereo, 44100, 32}, {&stereo, 22050, 16}, {&mono, 48000, 8}};
  for (const auto& [clip, rate, bits] : targets) {
    std::vector<int16_t> expected = Samples16(PcmBytes(Reference(*clip), clip->channels, 2, 16));
    // Resampled as a whole: the resampler's tail must come out at the end too.
    if (rate != clip->rate) expected = ResampleReference(expected, 2, clip->rate, rate);
    // Destinations of a sample frame or a few hold output back for later calls;
    // with kConvertBlockAlign the rest of a block is presented again.
    for (auto [pass, destination, flags] : {std::tuple{1u, kLarge, 0u},
                                            {7u, 9u, 0u},
                                            {417u, kLarge, 0u},
                                            {4096u, 13u, 0u},
                                            {kLarge, kLarge, 0u},
                                            {1001u, kLarge, uint32_t{kConvertBlockAlign}}}) {
      const StreamRun run = Decode(*clip, 2, rate, bits, pass, destination, flags);
      EXPECT_EQ(run.error, "");
      EXPECT_EQ(PcmValues(run.out, bits), ScaledTo(expected, bits))
          << clip->rate << " to " << rate << " Hz, " << bits << " bits, passes of " << pass
          << " into " << destination;
    }
  }
}

// Where each frame of a bare CBR stream starts.
std::vector<size_t> FrameStarts(const std::vector<uint8_t>& stream) {
  std::vector<size_t> starts;
  for (size_t at = 0; at + 4 <= stream.size(); at += ReadLayer3Header(&stream[at])->length) {
    starts.push_back(at);
  }
  return starts;
}

// `size` bytes of junk from a linear congruential generator.
std::vector<uint8_t> Junk(size_t size, uint32_t state) {
  std::vector<uint8_t> junk(size);
  for (uint8_t& byte : junk) byte = uint8_t((state = state * 1664525u + 1013904223u) >> 24);
  return junk;
}

TEST_F(Mp3Driver, DecodesEachFrameOnceWholeBehindCutsJunkAndGarbage) {
  const EncodedClip clip = Clip(2, 44100, 128);
  const std::vector<uint8_t>& mp3 = clip.mp3;
  const std::vector<size_t> starts = FrameStarts(mp3);
  std::vector<std::string> failed;
  // Cut into the first frames, or behind junk that holds a header of the
  // stream after its first byte: decoded as a resyncing decoder does, from
  // the first frame whose next header agrees with it, no more.
  for (size_t cut = 1; cut < 2000; cut += 37) {
    std::vector<uint8_t> junk = Junk(cut / 3 + 64, uint32_t(cut));
    std::copy_n(mp3.begin(), 4, junk.begin() + 1);
    const size_t first = *std::lower_bound(starts.begin(), starts.end(), cut);
    EncodedClip whole = clip;
    whole.mp3.assign(mp3.begin() + first, mp3.end());
    junk.insert(junk.end(), mp3.begin(), mp3.end());
    const struct {
      std::string name;
      std::vector<uint8_t> stream;
      const EncodedClip& from;
    } runs[] = {{"cut " + std::to_string(cut), {mp3.begin() + cut, mp3.end()}, whole},
                {"junk " + std::to_string(junk.size() - mp3.size()), junk, clip}};
    for (const auto& [name, stream, from] : runs) {
      const StreamRun run =
          RunStream(ClipSourceFormat(clip), MakePcmFormat(2, 44100, 16), stream, 4096, kLarge);
      if (!run.error.empty() || run.out != PcmBytes(Reference(from), 2, 2, 16)) {
        failed.push_back(name + " " + run.error);
      }
    }
  }
  EXPECT_EQ(failed, std::vector<std::string>{});
  // Garbage between frames, however it is cut, neither hangs nor stops the
  // decoding: the last frames come out as they are.
  EncodedClip mixed = clip;
  const std::vector<uint8_t> garbage = Junk(30000, 12345);
  mixed.mp3.insert(mixed.mp3.begin() + 5000, garbage.begin(), garbage.end());
  const std::vector<uint8_t> reference = PcmBytes(Reference(clip), 1, 1, 16);
  const size_t tail = 8 * 1152 * 4;
  for (uint32_t pass : {1u, 333u, 8192u}) {
    const std::vector<uint8_t> out = Decode(mixed, 2, 44100, 16, pass).out;
    ASSERT_GE(out.size(), tail);
    EXPECT_TRUE(std::equal(out.end() - tail, out.end(), reference.end() - tail)) << pass;
  }
  // A frame comes out once its last byte is in, with no next header to wait
  // for: the first frame one byte short, then its last byte.
  const long first = 417 + ((mp3[2] >> 1) & 1);  // 128 kbps at 44.1 kHz, padded
  EXPECT_EQ(RunStream(ClipSourceFormat(clip), MakePcmFormat(2, 44100, 16),
                      {mp3.begin(), mp3.begin() + first}, first - 1, kLarge, 0, false)
                .calls,
            (std::vector<uint32_t>{0, 1152 * 4}));
}

TEST_F(Mp3Driver, SuggestsSixteenBitsAndRefusesOtherConversionsWithReasons) {
  const EncodedClip clip = Clip(2, 44100, 128), later = Clip(2, 48000, 128);
  const FormatBlock source = ClipSourceFormat(clip);
  FormatBlock suggested(kWaveFormatSize, 0);
  ASSERT_TRUE(CodecFormatSuggest(source, suggested));
  EXPECT_EQ(suggested, MakePcmFormat(2, 44100, 16));
  StoreLe16(suggested.data(), 0x11);  // a preset tag is kept: nothing decodes to it
  EXPECT_FALSE(CodecFormatSuggest(source, suggested));

  // The block with the 16-bit field at `at` set to `value`, or cut to `size` bytes.
  auto with = [](FormatBlock block, size_t at, uint16_t value) {
    StoreLe16(block.data() + at, value);
    return block;
  };
  auto cut = [](const FormatBlock& block, size_t size) {
    return FormatBlock(block.begin(), block.begin() + size);
  };
  const FormatBlock pcm = MakePcmFormat(2, 44100, 16),
                    adpcm = with(MakePcmFormat(2, 44100, 4), 0, 0x11);
  const std::tuple<FormatBlock, FormatBlock, std::string> refusals[] = {
      {source, MakePcmFormat(2, 7999, 16),
       "PCM target at 7999 Hz; only 8000 to 96000 Hz are supported"},
      {source, MakePcmFormat(2, 44100, 12),
       "PCM target with 12 bits per sample; only 8, 16, 24 and 32 are supported"},
      {source, with(pcm, 2, 3), "PCM target with 3 channels; only 1 or 2 are supported"},
      {source, with(pcm, 12, 3), "PCM target nBlockAlign 3 should be 4 for 2 channels of 16 bits"},
      {source, cut(pcm, 15), "target format block of 15 bytes is shorter than 16"},
      {source, adpcm, "MPEG Layer-3 decodes to PCM only, not to format tag 0x0011"},
      {adpcm, pcm, "source format tag 0x0011 is not MPEG Layer-3 (0x0055)"},
      {cut(source, 17), pcm, "source format block of 17 bytes is shorter than 18"},
      {with(source, 2, 3), pcm, "MPEG Layer-3 source with 3 channels; only 1 or 2 exist"},
      {with(source, 4, 7000), pcm,
       "MPEG Layer-3 source at 7000 Hz, which is not an MPEG sample rate"},
      {cut(source, 18), pcm,
       "MPEG Layer-3 format block of 18 bytes with cbSize 12 is too short; it needs 30 bytes with "
       "cbSize 12"},
      {with(source, 12, 0), pcm, "MPEG Layer-3 source with nBlockAlign 0"},
      // A format that misstates the frames' rate fails on the first frame.
      {with(source, 4, 22050), MakePcmFormat(2, 22050, 16),
       "the stream's frames are at 44100 Hz but its format says 22050 Hz"}};
  for (const auto& [from, to, reason] : refusals) {
    EXPECT_EQ(RunStream(from, to, clip.mp3, 4096, kLarge).error, reason);
  }

  // Frames at another rate, or free format after a fixed bitrate, end the
  // stream; free format throughout decodes (bitrate index 0 makes the same
  // frames free format).
  std::vector<uint8_t> changed = clip.mp3, free = clip.mp3;
  changed.insert(changed.end(), later.mp3.begin(), later.mp3.end());
  for (size_t at : FrameStarts(free)) free[at + 2] &= 0x0F;
  std::vector<uint8_t> freeAfterOne = free;
  freeAfterOne[2] = clip.mp3[2];
  const std::pair<std::vector<uint8_t>, std::string> streams[] = {
      {changed, "the stream's frames are at 48000 Hz but its format says 44100 Hz"},
      {freeAfterOne, "the stream's frames change from a fixed bitrate to free format"},
      {free, ""}};
  for (const auto& [stream, reason] : streams) {
    const StreamRun run = RunStream(source, pcm, stream, 4096, kLarge);
    EXPECT_EQ(run.error, reason);
    EXPECT_TRUE(!reason.empty() || run.out == PcmBytes(Reference(clip), 2, 2, 16));
  }
}

}  // namespace

}  // namespace unpak
