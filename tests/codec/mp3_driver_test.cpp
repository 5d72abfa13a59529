#include <gtest/gtest.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
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

// soxr at the driver's settings over a whole signal at once.
std::vector<int16_t> Resample(const std::vector<int16_t>& samples, int channels, int from,
                              int to) {
  soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
  io.flags |= SOXR_NO_DITHER;
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  const size_t frames = samples.size() / channels;
  std::vector<int16_t> out((frames * to / from + 2) * channels);
  size_t made = 0;
  EXPECT_EQ(soxr_oneshot(from, to, channels, samples.data(), frames, nullptr, out.data(),
                         out.size() / channels, &made, &io, &quality, nullptr),
            nullptr);
  out.resize(made * channels);
  return out;
}

std::vector<uint8_t> ToBytes(const std::vector<int16_t>& samples, int bits) {
  std::vector<uint8_t> bytes;
  for (int16_t sample : samples) {
    if (bits == 8) {
      bytes.push_back(uint8_t((sample >> 8) + 128));
      continue;
    }
    bytes.insert(bytes.end(), size_t(bits / 8 - 2), 0);
    bytes.push_back(uint8_t(sample));
    bytes.push_back(uint8_t(uint16_t(sample) >> 8));
  }
  return bytes;
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
      EXPECT_EQ(run.endTail, 0u);
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
  const FormatBlock source = Mp3Format(2, 44100, clip.mp3);
  const ServiceDecode run =
      DecodeThroughService(source, PcmFormat(2, 44100, 16), clip.mp3.bytes, 4096,
                           /*destinationSize=*/6);
  EXPECT_FALSE(run.failed) << run.error;
  EXPECT_EQ(AsSamples(run.pcm), reference);
  EXPECT_GT(run.heldBack, 0u);

  // Converted audio that does not fit waits for later calls, the end's tail too.
  for (const FormatBlock& target : {PcmFormat(2, 22050, 16), PcmFormat(2, 44100, 24),
                                    PcmFormat(1, 48000, 8)}) {
    const ServiceDecode whole = DecodeThroughService(source, target, clip.mp3.bytes, 4096);
    for (uint32_t destination : {6u, 7u, 1000u}) {
      SCOPED_TRACE(testing::Message() << ReadWaveFormat(target.data()).nSamplesPerSec << " Hz, "
                                      << destination << "-byte destination");
      const ServiceDecode tiny =
          DecodeThroughService(source, target, clip.mp3.bytes, 4096, destination);
      EXPECT_FALSE(tiny.failed) << tiny.error;
      EXPECT_EQ(tiny.pcm, whole.pcm);
    }
  }
}

TEST_F(Mp3Driver, ResamplesToAnyRateWithExactLengthOnceTheSourceEnds) {
  const Clip clip = MakeClip(2, 44100, 128);
  const FormatBlock source = Mp3Format(2, 44100, clip.mp3);
  for (auto [channels, rate] : {std::pair{2, 22050}, {2, 48000}, {1, 8000}, {1, 96000}}) {
    SCOPED_TRACE(testing::Message() << channels << " channels at " << rate << " Hz");
    const std::vector<int16_t> decoded = ReferenceDecode(clip.mp3.bytes, channels);
    const std::vector<int16_t> expected = Resample(decoded, channels, 44100, rate);
    ASSERT_EQ(expected.size() / channels,
              size_t(std::lround(double(decoded.size() / channels) * rate / 44100)));
    for (uint32_t slice : {1u, 417u, 4096u}) {
      if (slice == 1 && rate != 22050) continue;  // slow; one case is enough
      SCOPED_TRACE(testing::Message() << "slices of " << slice);
      const ServiceDecode run =
          DecodeThroughService(source, PcmFormat(channels, rate, 16), clip.mp3.bytes, slice);
      EXPECT_FALSE(run.failed) << run.error;
      EXPECT_EQ(AsSamples(run.pcm), expected);
      EXPECT_EQ(run.heldBack, 0u) << "the size answer holds every call's output";
      EXPECT_GT(run.endTail, 0u) << "the resampler's tail comes out at the end";
    }
  }
}

TEST_F(Mp3Driver, WritesEveryPcmWidth) {
  const Clip clip = MakeClip(2, 44100, 128);
  const FormatBlock source = Mp3Format(2, 44100, clip.mp3);
  const std::vector<int16_t> stereo = ReferenceDecode(clip.mp3.bytes, 2);
  for (int bits : {24, 32}) {
    const ServiceDecode run =
        DecodeThroughService(source, PcmFormat(2, 44100, bits), clip.mp3.bytes, 1000);
    EXPECT_FALSE(run.failed) << run.error;
    EXPECT_EQ(run.pcm, ToBytes(stereo, bits)) << bits << " bits";
    EXPECT_EQ(run.endTail, 0u);
  }
  // Mixed to mono, resampled and narrowed in one conversion.
  const std::vector<int16_t> mono = ReferenceDecode(clip.mp3.bytes, 1);
  const ServiceDecode run =
      DecodeThroughService(source, PcmFormat(1, 32000, 8), clip.mp3.bytes, 1000);
  EXPECT_FALSE(run.failed) << run.error;
  EXPECT_EQ(run.pcm, ToBytes(Resample(mono, 1, 44100, 32000), 8));
}

TEST_F(Mp3Driver, EndPutsOutWhatIsHeldBackThenTakesNoMoreSource) {
  const Clip clip = MakeClip(2, 44100, 128);
  std::vector<uint8_t> in(clip.mp3.bytes);
  std::vector<uint8_t> out(1 << 20);
  const std::vector<int16_t> expected =
      Resample(ReferenceDecode(clip.mp3.bytes, 2), 2, 44100, 22050);
  auto open = [&] {
    return CodecStreamOpen(Mp3Format(2, 44100, clip.mp3), PcmFormat(2, 22050, 16), nullptr);
  };
  CodecStreamHeader header{sizeof header, 0, in.data(), uint32_t(in.size()), 0,
                           out.data(), uint32_t(out.size()), 0};

  // The source with the end flag: everything in one call.
  CodecStreamPtr stream = open();
  ASSERT_TRUE(stream);
  ASSERT_TRUE(CodecStreamPrepareHeader(*stream, header));
  ASSERT_TRUE(CodecStreamConvert(*stream, header, kConvertEnd));
  EXPECT_EQ(header.cbSrcLengthUsed, in.size());
  EXPECT_EQ(header.cbDstLengthUsed, expected.size() * 2);
  CodecStreamUnprepareHeader(*stream, header);

  // The end on its own, after the source: the tail, then nothing more.
  stream = open();
  ASSERT_TRUE(stream);
  ASSERT_TRUE(CodecStreamPrepareHeader(*stream, header));
  ASSERT_TRUE(CodecStreamConvert(*stream, header, 0));
  const uint32_t before = header.cbDstLengthUsed;
  EXPECT_LT(before, expected.size() * 2);
  header.cbSrcLength = 0;
  ASSERT_TRUE(CodecStreamConvert(*stream, header, kConvertEnd));
  EXPECT_EQ(before + header.cbDstLengthUsed, expected.size() * 2);
  ASSERT_TRUE(CodecStreamConvert(*stream, header, kConvertEnd));
  EXPECT_EQ(header.cbDstLengthUsed, 0u);
  header.cbSrcLength = 100;
  EXPECT_FALSE(CodecStreamConvert(*stream, header, 0));
  EXPECT_EQ(CodecStreamError(*stream), std::string("source bytes after the end of the stream"));
  CodecStreamUnprepareHeader(*stream, header);
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
  EXPECT_EQ(OpenFailure(source, PcmFormat(2, 7999, 16)),
            "PCM target at 7999 Hz; only 8000 to 96000 Hz are supported");
  EXPECT_EQ(OpenFailure(source, PcmFormat(1, 96001, 8)),
            "PCM target at 96001 Hz; only 8000 to 96000 Hz are supported");
  EXPECT_EQ(OpenFailure(source, PcmFormat(2, 44100, 12)),
            "PCM target with 12 bits per sample; only 8, 16, 24 and 32 are supported");
  EXPECT_EQ(OpenFailure(source, PcmFormat(3, 44100, 16)),
            "PCM target with 3 channels; only 1 or 2 are supported");
  FormatBlock misaligned = PcmFormat(2, 44100, 24);
  StoreLe16(misaligned.data() + 12, 8);
  EXPECT_EQ(OpenFailure(source, misaligned),
            "PCM target nBlockAlign 8 should be 6 for 2 channels of 24 bits");
  FormatBlock adpcmSource = PcmFormat(2, 44100, 4);
  StoreLe16(adpcmSource.data(), 0x11);
  EXPECT_EQ(OpenFailure(adpcmSource, PcmFormat(2, 44100, 16)),
            "source format tag 0x0011 is not MPEG Layer-3 (0x0055)");
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
