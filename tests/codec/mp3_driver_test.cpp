#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/codec_service.h"
#include "tests/codec/mp3_test_support.h"
#include "tools/synth.h"

namespace {

struct Clip {
  int channels;
  int rate;
  std::vector<int16_t> samples;
  Mp3Stream mp3;
};

// About 0.6 s of music, encoded at constant bitrate.
Clip MakeClip(int channels, int rate, int kbps) {
  Clip clip{channels, rate, SynthesizeMusic(channels, rate, rate * 6 / 10, 7), {}};
  clip.mp3 = EncodeMp3(clip.samples, channels, rate, kbps);
  return clip;
}

class Mp3Driver : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(RegisterCodecModule()); }
};

std::string OpenFailure(const FormatBlock& source, const FormatBlock& target) {
  std::string reason;
  EXPECT_FALSE(CodecStreamOpen(source, target, &reason));
  return reason;
}

// Index of the largest cross-correlation between `decoded` and `original`
// (mono) for lags in [-range, range].
int BestLag(const std::vector<int16_t>& decoded, const std::vector<int16_t>& original,
            int range) {
  int best = 0;
  double bestSum = -1e300;
  for (int lag = -range; lag <= range; ++lag) {
    double sum = 0;
    for (size_t i = 2000; i + 2000 < original.size(); ++i) {
      sum += double(decoded[i + lag]) * original[i];
    }
    if (sum > bestSum) {
      bestSum = sum;
      best = lag;
    }
  }
  return best;
}

TEST_F(Mp3Driver, OutputDoesNotDependOnHowTheInputIsCut) {
  for (const Clip& clip : {MakeClip(2, 44100, 128), MakeClip(1, 22050, 48)}) {
    const FormatBlock source = Mp3Format(clip.channels, clip.rate, clip.mp3);
    const FormatBlock target = PcmFormat(clip.channels, clip.rate, 16);
    const std::vector<int16_t> reference = ReferenceDecode(clip.mp3.bytes, clip.channels);
    ASSERT_GT(reference.size(), clip.samples.size());
    for (uint32_t slice : {1u, 7u, 417u, 4096u, 1u << 20}) {
      SCOPED_TRACE(testing::Message() << clip.rate << " Hz, slices of " << slice);
      const ServiceDecode run = DecodeThroughService(source, target, clip.mp3.bytes, slice);
      EXPECT_FALSE(run.failed) << run.error;
      EXPECT_EQ(AsSamples(run.pcm), reference);
      EXPECT_EQ(run.heldBack, 0u) << "the size answer holds every call's output";
    }
    // Whole 4-byte source blocks only: the rest is presented again.
    const ServiceDecode aligned = DecodeThroughService(Mp3Format(clip.channels, clip.rate,
                                                                 clip.mp3, 4),
                                                       target, clip.mp3.bytes, 1001, 0,
                                                       kConvertBlockAlign);
    EXPECT_EQ(AsSamples(aligned.pcm), reference);
  }
}

TEST_F(Mp3Driver, TinyDestinationLosesNothing) {
  const Clip clip = MakeClip(2, 44100, 128);
  const std::vector<int16_t> reference = ReferenceDecode(clip.mp3.bytes, 2);
  const ServiceDecode run = DecodeThroughService(Mp3Format(2, 44100, clip.mp3),
                                                 PcmFormat(2, 44100, 16), clip.mp3.bytes, 4096,
                                                 /*destinationSize=*/6);
  EXPECT_FALSE(run.failed) << run.error;
  EXPECT_EQ(AsSamples(run.pcm), reference);
  EXPECT_GT(run.heldBack, 0u);
}

TEST_F(Mp3Driver, EightBitSamplesAreTheHighByteOffsetBy128) {
  for (int channels : {1, 2}) {
    const Clip clip = MakeClip(2, 32000, 96);
    const std::vector<int16_t> reference = ReferenceDecode(clip.mp3.bytes, channels);
    const ServiceDecode run = DecodeThroughService(Mp3Format(2, 32000, clip.mp3),
                                                   PcmFormat(channels, 32000, 8),
                                                   clip.mp3.bytes, 333);
    ASSERT_EQ(run.pcm.size(), reference.size());
    for (size_t i = 0; i < reference.size(); ++i) {
      ASSERT_EQ(run.pcm[i], uint8_t((reference[i] >> 8) + 128)) << "sample " << i;
    }
  }
}

TEST_F(Mp3Driver, MixesAndDuplicatesChannels) {
  const Clip stereo = MakeClip(2, 44100, 128);
  const std::vector<int16_t> both = ReferenceDecode(stereo.mp3.bytes, 2);
  const std::vector<int16_t> mixed = AsSamples(
      DecodeThroughService(Mp3Format(2, 44100, stereo.mp3), PcmFormat(1, 44100, 16),
                           stereo.mp3.bytes, 4096)
          .pcm);
  ASSERT_EQ(mixed.size() * 2, both.size());
  for (size_t i = 0; i < mixed.size(); ++i) {
    ASSERT_LE(std::abs(mixed[i] - (both[2 * i] + both[2 * i + 1]) / 2), 1) << "frame " << i;
  }

  const Clip mono = MakeClip(1, 24000, 64);
  const std::vector<int16_t> single = ReferenceDecode(mono.mp3.bytes, 1);
  const std::vector<int16_t> doubled = AsSamples(
      DecodeThroughService(Mp3Format(1, 24000, mono.mp3), PcmFormat(2, 24000, 16),
                           mono.mp3.bytes, 4096)
          .pcm);
  ASSERT_EQ(doubled.size(), single.size() * 2);
  for (size_t i = 0; i < single.size(); ++i) {
    ASSERT_EQ(doubled[2 * i], single[i]) << "frame " << i;
    ASSERT_EQ(doubled[2 * i + 1], single[i]) << "frame " << i;
  }
}

TEST_F(Mp3Driver, SuggestsSixteenBitPcmOfTheSourceShape) {
  const Clip clip = MakeClip(2, 22050, 64);
  const FormatBlock source = Mp3Format(2, 22050, clip.mp3);
  FormatBlock suggested(kWaveFormatSize, 0);
  StoreLe16(suggested.data(), kWaveFormatPcm);
  ASSERT_TRUE(CodecFormatSuggest(source, suggested));
  EXPECT_EQ(suggested, PcmFormat(2, 22050, 16));

  FormatBlock unset(kWaveFormatSize, 0);
  ASSERT_TRUE(CodecFormatSuggest(source, unset));
  EXPECT_EQ(unset, PcmFormat(2, 22050, 16));

  FormatBlock adpcm(kWaveFormatSize, 0);
  StoreLe16(adpcm.data(), 0x11);
  EXPECT_FALSE(CodecFormatSuggest(source, adpcm));
  EXPECT_FALSE(CodecFormatSuggest(PcmFormat(2, 22050, 16), suggested));
}

TEST_F(Mp3Driver, RefusesWhatItCannotDecodeAndSaysWhy) {
  const Clip clip = MakeClip(2, 44100, 128);
  const FormatBlock source = Mp3Format(2, 44100, clip.mp3);
  EXPECT_EQ(OpenFailure(source, PcmFormat(2, 22050, 16)),
            "PCM target at 22050 Hz differs from the source's 44100 Hz; resampling is not "
            "supported yet");
  EXPECT_EQ(OpenFailure(source, PcmFormat(2, 44100, 24)),
            "PCM target with 24 bits per sample; only 8 and 16 are supported");
  EXPECT_EQ(OpenFailure(PcmFormat(2, 44100, 16), PcmFormat(2, 44100, 16)),
            "source format tag 0x0001 is not MPEG Layer-3 (0x0055)");
  FormatBlock shortBlock(source.begin(), source.begin() + kWaveFormatSize);
  StoreLe16(shortBlock.data() + 16, 0);
  EXPECT_EQ(OpenFailure(shortBlock, PcmFormat(2, 44100, 16)),
            "MPEG Layer-3 format block of 18 bytes with cbSize 0 is too short; it needs 30 "
            "bytes with cbSize 12");
  FormatBlock adpcm = PcmFormat(2, 44100, 4);
  StoreLe16(adpcm.data(), 0x11);
  EXPECT_EQ(OpenFailure(source, adpcm), "MPEG Layer-3 decodes to PCM only, not to format tag 0x0011");

  // A format that misstates the frames' rate fails on the first frame.
  const ServiceDecode lying = DecodeThroughService(Mp3Format(2, 22050, clip.mp3),
                                                   PcmFormat(2, 22050, 16), clip.mp3.bytes, 4096);
  EXPECT_TRUE(lying.failed);
  EXPECT_TRUE(lying.pcm.empty());
  EXPECT_EQ(lying.error, "the stream's frames are at 44100 Hz but its format says 22050 Hz");
}

TEST_F(Mp3Driver, SizeAnswerBoundsTheOutputOfOneCall) {
  const Clip clip = MakeClip(2, 44100, 128);
  CodecStreamPtr stereo =
      CodecStreamOpen(Mp3Format(2, 44100, clip.mp3), PcmFormat(2, 44100, 16), nullptr);
  ASSERT_TRUE(stereo);
  uint32_t size = 0;
  ASSERT_TRUE(CodecStreamSize(*stereo, 4160, &size, kStreamSizeSource));
  EXPECT_EQ(size, (4160u / 104 + 2) * 1152 * 4);
  EXPECT_FALSE(CodecStreamSize(*stereo, 4160, &size, kStreamSizeDestination));
  EXPECT_FALSE(CodecStreamSize(*stereo, 0xFFFFFFFFu, &size, kStreamSizeSource));

  CodecStreamPtr mono =
      CodecStreamOpen(Mp3Format(1, 22050, clip.mp3), PcmFormat(1, 22050, 8), nullptr);
  ASSERT_TRUE(mono);
  ASSERT_TRUE(CodecStreamSize(*mono, 1000, &size, kStreamSizeSource));
  EXPECT_EQ(size, (1000u / 26 + 2) * 576);
}

TEST_F(Mp3Driver, DecoderDelayIsLameDelayMinusEncoderPart) {
  for (const Clip& clip : {MakeClip(1, 44100, 128), MakeClip(2, 22050, 64)}) {
    SCOPED_TRACE(clip.rate);
    const std::vector<int16_t> decoded = AsSamples(
        DecodeThroughService(Mp3Format(clip.channels, clip.rate, clip.mp3),
                             PcmFormat(1, clip.rate, 16), clip.mp3.bytes, 4096)
            .pcm);
    std::vector<int16_t> original(clip.samples.size() / clip.channels);
    for (size_t i = 0; i < original.size(); ++i) {
      original[i] = clip.channels == 1 ? clip.samples[i]
                                       : (clip.samples[2 * i] + clip.samples[2 * i + 1]) / 2;
    }
    ASSERT_GT(decoded.size(), original.size() + kLameCodecDelay);
    const std::vector<int16_t> aligned(decoded.begin() + kLameCodecDelay, decoded.end());
    EXPECT_EQ(BestLag(aligned, original, 300), 0);
  }
}

TEST_F(Mp3Driver, ReleasesEachFrameAsSoonAsItIsComplete) {
  const Clip clip = MakeClip(2, 44100, 128);
  const std::vector<uint8_t>& bytes = clip.mp3.bytes;
  CodecStreamPtr stream =
      CodecStreamOpen(Mp3Format(2, 44100, clip.mp3), PcmFormat(2, 44100, 16), nullptr);
  ASSERT_TRUE(stream);
  std::vector<uint8_t> in(bytes);
  std::vector<uint8_t> out(1 << 16);
  CodecStreamHeader header{sizeof header, 0, in.data(), uint32_t(in.size()), 0, out.data(), 1 << 16, 0};
  ASSERT_TRUE(CodecStreamPrepareHeader(*stream, header));
  const uint32_t first = 417 + ((bytes[2] >> 1) & 1);  // 128 kbps at 44.1 kHz, with padding

  header.cbSrcLength = first - 1;
  ASSERT_TRUE(CodecStreamConvert(*stream, header, 0));
  EXPECT_EQ(header.cbSrcLengthUsed, first - 1);
  EXPECT_EQ(header.cbDstLengthUsed, 0u) << "a frame short of one byte gives nothing";
  header.pbSrc = in.data() + first - 1;
  EXPECT_FALSE(CodecStreamConvert(*stream, header, 0)) << "buffers stay as prepared";
  header.pbSrc = in.data();
  std::memmove(in.data(), in.data() + first - 1, 1);
  header.cbSrcLength = 1;
  ASSERT_TRUE(CodecStreamConvert(*stream, header, 0));
  EXPECT_EQ(header.cbDstLengthUsed, 1152u * 4) << "no wait for the next frame's header";
  CodecStreamUnprepareHeader(*stream, header);
}

TEST_F(Mp3Driver, SurvivesGarbage) {
  std::vector<uint8_t> garbage(30000);
  uint32_t state = 12345;
  for (uint8_t& byte : garbage) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  const Clip clip = MakeClip(2, 44100, 128);
  // Garbage in the middle of a stream.
  std::vector<uint8_t> mixed(clip.mp3.bytes);
  mixed.insert(mixed.begin() + 5000, garbage.begin(), garbage.end());
  const FormatBlock source = Mp3Format(2, 44100, clip.mp3);
  const FormatBlock target = PcmFormat(2, 44100, 16);
  for (uint32_t slice : {1u, 333u, 8192u}) {
    const ServiceDecode run = DecodeThroughService(source, target, garbage, slice);
    EXPECT_LE(run.pcm.size(), garbage.size() * 12 * 4);
  }
  // Decoding resumes after the garbage: the last frames come out as usual.
  const std::vector<int16_t> reference = ReferenceDecode(clip.mp3.bytes, 2);
  const size_t tail = 8 * 1152 * 2;
  for (uint32_t slice : {1u, 333u, 8192u}) {
    const std::vector<int16_t> decoded =
        AsSamples(DecodeThroughService(source, target, mixed, slice).pcm);
    ASSERT_GE(decoded.size(), tail);
    EXPECT_TRUE(std::equal(decoded.end() - tail, decoded.end(), reference.end() - tail));
  }
}

}  // namespace
