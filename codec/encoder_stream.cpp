#include "codec/encoder_stream.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/g711_encoder.h"
#include "platform/byte_order.h"

namespace unpak {

namespace {

int32_t Fail(EncoderStream& stream, std::string text) {
  stream.lastError = std::move(text);
  return kCodecError;
}

// Encodes `count` whole blocks of interleaved target frames onto `out`.
void EncodeBlocks(EncoderStream& stream, const int16_t* frames, size_t count, uint8_t* out) {
  const EncoderTarget& target = stream.target;
  const uint32_t channels = target.format.nChannels;
  const size_t samples = count * target.samplesPerBlock * channels;
  switch (target.kind) {
    case EncoderKind::Mulaw:
      std::transform(frames, frames + samples, out, EncodeMulaw);
      break;
    case EncoderKind::Alaw:
      std::transform(frames, frames + samples, out, EncodeAlaw);
      break;
    case EncoderKind::Float:
      for (size_t i = 0; i < samples; ++i) {
        StoreLe32(out + 4 * i, std::bit_cast<uint32_t>(frames[i] / 32768.f));
      }
      break;
    case EncoderKind::ImaAdpcm:
      for (size_t b = 0; b < count; ++b) {
        EncodeImaBlock(frames + b * target.samplesPerBlock * channels, channels,
                       target.samplesPerBlock, stream.ima, out + b * target.format.nBlockAlign);
      }
      break;
    case EncoderKind::Gsm610:
      for (size_t b = 0; b < count; ++b) {
        EncodeGsmBlock(stream.gsm.get(), frames + b * kGsmBlockSamples, out + b * kGsmBlockBytes);
      }
      break;
  }
}

// Encodes the whole blocks among the held frames onto the pending bytes and,
// with `padTail`, a last part block filled up with silence. What is left
// stays held.
void EncodeHeld(EncoderStream& stream, bool padTail) {
  const uint32_t channels = stream.target.format.nChannels;
  const size_t blockSamples = size_t{stream.target.samplesPerBlock} * channels;
  const size_t blocks = stream.held.size() / blockSamples;
  if (padTail && stream.held.size() % blockSamples != 0) {
    stream.held.resize((blocks + 1) * blockSamples, 0);
  }
  const size_t encoded = stream.held.size() / blockSamples;
  const size_t start = stream.pending.size();
  stream.pending.resize(start + encoded * stream.target.format.nBlockAlign);
  EncodeBlocks(stream, stream.held.data(), encoded, stream.pending.data() + start);
  stream.held.erase(stream.held.begin(), stream.held.begin() + encoded * blockSamples);
}

// Passes `frames` source frames through the stage onto the held frames.
int32_t RunStage(EncoderStream& stream, const int16_t* frames, size_t count, bool end) {
  std::string reason;
  stream.stageOutput.clear();
  if (!PcmStageProcess(*stream.stage, frames, count, end, &stream.stageOutput, &reason)) {
    return Fail(stream, "PCM conversion before encoding failed: " + reason);
  }
  stream.stageEnded = end;
  const size_t start = stream.held.size();
  stream.held.resize(start + stream.stageOutput.size() / 2);
  // memcpy must not see the null data() of an empty vector, even for 0 bytes.
  if (stream.held.size() > start) {
    std::memcpy(stream.held.data() + start, stream.stageOutput.data(),
                (stream.held.size() - start) * 2);
  }
  return kCodecOk;
}

void Deliver(EncoderStream& stream, CodecStreamHeader& header) {
  const size_t count = std::min<size_t>(stream.pending.size(), header.cbDstLength);
  if (count > 0) std::memcpy(header.pbDst, stream.pending.data(), count);
  stream.pending.erase(stream.pending.begin(), stream.pending.begin() + count);
  header.cbDstLengthUsed = static_cast<uint32_t>(count);
}

}  // namespace

int32_t OpenEncoderStream(const uint8_t* source, uint32_t sourceSize, const uint8_t* target,
                          uint32_t targetSize, std::unique_ptr<EncoderStream>* stream,
                          std::string* reason) {
  auto opened = std::make_unique<EncoderStream>();
  if (!CheckPcmSource(source, sourceSize, &opened->source, reason) ||
      !CheckEncoderTarget(target, targetSize, &opened->target, reason)) {
    return kCodecNotPossible;
  }
  const WaveFormat& in = opened->source;
  const WaveFormat& out = opened->target.format;
  if (in.nSamplesPerSec != out.nSamplesPerSec || in.nChannels != out.nChannels) {
    const PcmLayout layout{out.nSamplesPerSec, out.nChannels, 16};
    opened->stage = CreatePcmStage(in.nSamplesPerSec, in.nChannels, layout, reason);
    if (!opened->stage) return kCodecError;
  }
  if (opened->target.kind == EncoderKind::Gsm610) {
    opened->gsm = CreateGsmEncoder();
    if (!opened->gsm) {
      *reason = "cannot create a GSM 6.10 encoder";
      return kCodecError;
    }
  }
  *stream = std::move(opened);
  return kCodecOk;
}

int32_t EncoderStreamSize(const EncoderStream& stream, uint32_t input, uint32_t* output,
                          uint32_t flags) {
  const uint32_t frameBytes = stream.source.nBlockAlign;
  const uint32_t channels = stream.target.format.nChannels;
  const uint64_t samplesPerBlock = stream.target.samplesPerBlock;
  const uint64_t blockAlign = stream.target.format.nBlockAlign;
  if (flags == kStreamSizeDestination) {
    uint64_t frames = input / blockAlign * samplesPerBlock;
    if (stream.stage) {
      frames = frames * stream.source.nSamplesPerSec / stream.target.format.nSamplesPerSec;
    }
    // Very large answers shrink to what a u32 holds, still in whole units.
    const uint64_t unit = stream.stage ? frameBytes : samplesPerBlock * frameBytes;
    const uint64_t bytes = std::min<uint64_t>(frames * frameBytes, UINT32_MAX / unit * unit);
    *output = static_cast<uint32_t>(bytes);
    return kCodecOk;
  }
  if (flags != kStreamSizeSource) return kCodecNotPossible;
  const uint64_t inputFrames = input / frameBytes;
  uint64_t frames = stream.held.size() / channels;
  if (!stream.stage) {
    frames += inputFrames;
  } else if (!stream.stageEnded) {
    frames += PcmStageMaxOutputBytes(*stream.stage, inputFrames) / (2 * channels);
  }
  const uint64_t bytes =
      stream.pending.size() + (frames + samplesPerBlock - 1) / samplesPerBlock * blockAlign;
  if (bytes > UINT32_MAX) return kCodecNotPossible;
  *output = static_cast<uint32_t>(bytes);
  return kCodecOk;
}

int32_t ConvertEncoderStream(EncoderStream& stream, CodecStreamHeader& header, uint32_t flags) {
  header.cbSrcLengthUsed = 0;
  header.cbDstLengthUsed = 0;
  const bool end = (flags & kConvertEnd) != 0;
  const uint32_t frameBytes = stream.source.nBlockAlign;
  size_t frames = header.cbSrcLength / frameBytes;
  if (!stream.stage && (flags & kConvertBlockAlign) && !end) {
    frames -= frames % stream.target.samplesPerBlock;
  }
  if (frames > 0 && stream.stageEnded) {
    return Fail(stream, "source audio after the end of the stream");
  }
  if (frames > 0 || (end && stream.stage && !stream.stageEnded)) {
    const size_t samples = frames * stream.source.nChannels;
    if (stream.stage) {
      stream.stageInput.resize(samples);
      if (samples > 0) std::memcpy(stream.stageInput.data(), header.pbSrc, samples * 2);
      if (RunStage(stream, stream.stageInput.data(), frames, end) != kCodecOk) return kCodecError;
    } else {
      const size_t start = stream.held.size();
      stream.held.resize(start + samples);
      std::memcpy(stream.held.data() + start, header.pbSrc, samples * 2);
    }
    EncodeHeld(stream, !stream.stage || end);
    header.cbSrcLengthUsed = static_cast<uint32_t>(frames * frameBytes);
  }
  Deliver(stream, header);
  return kCodecOk;
}

}  // namespace unpak
