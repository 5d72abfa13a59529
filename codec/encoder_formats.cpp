#include "codec/encoder_formats.h"

#include "codec/pcm_stage.h"
#include "codec/reason_text.h"
#include "platform/byte_order.h"

namespace unpak {

namespace {

// The extra field of IMA ADPCM and GSM 6.10 blocks: wSamplesPerBlock.
constexpr uint16_t kSamplesPerBlockSize = 2;
constexpr uint16_t kGsmBlockAlign = 65;
constexpr uint16_t kGsmSamplesPerBlock = 320;

const char* KindName(EncoderKind kind) {
  switch (kind) {
    case EncoderKind::Mulaw:
      return "G.711 mu-law";
    case EncoderKind::Alaw:
      return "G.711 A-law";
    case EncoderKind::Float:
      return "IEEE float";
    case EncoderKind::ImaAdpcm:
      return "IMA ADPCM";
    case EncoderKind::Gsm610:
      return "GSM 6.10";
  }
  return "";
}

bool KindOfTag(uint16_t tag, EncoderKind* kind) {
  switch (tag) {
    case kWaveFormatMulaw:
      *kind = EncoderKind::Mulaw;
      return true;
    case kWaveFormatAlaw:
      *kind = EncoderKind::Alaw;
      return true;
    case kWaveFormatIeeeFloat:
      *kind = EncoderKind::Float;
      return true;
    case kWaveFormatImaAdpcm:
      *kind = EncoderKind::ImaAdpcm;
      return true;
    case kWaveFormatGsm610:
      *kind = EncoderKind::Gsm610;
      return true;
    default:
      return false;
  }
}

// Bits per sample and block size of the sample codecs.
bool CheckSampleTarget(const EncoderTarget& target, const char* name, std::string* reason) {
  const WaveFormat& format = target.format;
  const uint16_t bits = target.kind == EncoderKind::Float ? 32 : 8;
  if (format.wBitsPerSample != bits) {
    *reason =
        ReasonText("%s target: wBitsPerSample %u should be %u", name, format.wBitsPerSample, bits);
    return false;
  }
  const uint32_t blockAlign = format.nChannels * bits / 8u;
  if (format.nBlockAlign != blockAlign) {
    *reason = ReasonText("%s target: nBlockAlign %u should be %u for %u channels", name,
                         format.nBlockAlign, blockAlign, format.nChannels);
    return false;
  }
  return true;
}

bool CheckImaTarget(const EncoderTarget& target, uint16_t samplesPerBlock, std::string* reason) {
  const WaveFormat& format = target.format;
  const uint32_t headerBytes = 4u * format.nChannels;
  if (format.wBitsPerSample != 4) {
    *reason = ReasonText("IMA ADPCM target: wBitsPerSample %u should be 4", format.wBitsPerSample);
    return false;
  }
  if (format.nBlockAlign == 0 || format.nBlockAlign % headerBytes != 0) {
    *reason = ReasonText("IMA ADPCM target: nBlockAlign %u is not a multiple of 4 per channel (%u)",
                         format.nBlockAlign, headerBytes);
    return false;
  }
  const uint32_t expected = ImaSamplesPerBlock(format.nBlockAlign, format.nChannels);
  if (samplesPerBlock != expected) {
    *reason = ReasonText("IMA ADPCM target: wSamplesPerBlock %u should be %u for nBlockAlign %u",
                         samplesPerBlock, expected, format.nBlockAlign);
    return false;
  }
  return true;
}

bool CheckGsmTarget(const EncoderTarget& target, uint16_t samplesPerBlock, std::string* reason) {
  const WaveFormat& format = target.format;
  if (format.nChannels != 1) {
    *reason =
        ReasonText("GSM 6.10 target with %u channels; GSM 6.10 is mono only", format.nChannels);
    return false;
  }
  if (format.nBlockAlign != kGsmBlockAlign || samplesPerBlock != kGsmSamplesPerBlock) {
    *reason =
        ReasonText("GSM 6.10 target: nBlockAlign %u and wSamplesPerBlock %u should be %u and %u",
                   format.nBlockAlign, samplesPerBlock, kGsmBlockAlign, kGsmSamplesPerBlock);
    return false;
  }
  return true;
}

}  // namespace

uint32_t ImaSamplesPerBlock(uint32_t blockAlign, uint32_t channels) {
  return (blockAlign - 4 * channels) * 8 / (4 * channels) + 1;
}

bool CheckPcmSource(const uint8_t* block, uint32_t size, WaveFormat* format, std::string* reason) {
  // A PCM "fmt " chunk may stop after wBitsPerSample.
  if (!block || size < 16 || LoadLe16(block) != kWaveFormatPcm) return false;
  uint8_t header[kWaveFormatSize] = {};
  for (uint32_t i = 0; i < 16; ++i) header[i] = block[i];
  *format = ReadWaveFormat(header);
  if (format->wBitsPerSample != 16 || (format->nChannels != 1 && format->nChannels != 2) ||
      format->nBlockAlign != 2 * format->nChannels || format->nSamplesPerSec < kLowestPcmRate ||
      format->nSamplesPerSec > kHighestPcmRate) {
    *reason = ReasonText(
        "PCM source of %u bits, %u channels, nBlockAlign %u at %u Hz; the encoders take 16-bit "
        "mono or stereo PCM at 8000 to 96000 Hz",
        format->wBitsPerSample, format->nChannels, format->nBlockAlign, format->nSamplesPerSec);
    return false;
  }
  return true;
}

bool CheckEncoderTarget(const uint8_t* block, uint32_t size, EncoderTarget* target,
                        std::string* reason) {
  if (!block || size < kWaveFormatSize) {
    *reason =
        ReasonText("target format block of %u bytes is shorter than %zu", size, kWaveFormatSize);
    return false;
  }
  target->format = ReadWaveFormat(block);
  const WaveFormat& format = target->format;
  if (!KindOfTag(format.wFormatTag, &target->kind)) {
    *reason = ReasonText("no encoder for format tag 0x%04x", format.wFormatTag);
    return false;
  }
  const char* name = KindName(target->kind);
  if (format.nChannels != 1 && format.nChannels != 2) {
    *reason =
        ReasonText("%s target with %u channels; only 1 or 2 are supported", name, format.nChannels);
    return false;
  }
  if (format.nSamplesPerSec < kLowestPcmRate || format.nSamplesPerSec > kHighestPcmRate) {
    *reason = ReasonText("%s target at %u Hz; only 8000 to 96000 Hz are supported", name,
                         format.nSamplesPerSec);
    return false;
  }
  if (target->kind != EncoderKind::ImaAdpcm && target->kind != EncoderKind::Gsm610) {
    target->samplesPerBlock = 1;
    return CheckSampleTarget(*target, name, reason);
  }
  if (format.cbSize < kSamplesPerBlockSize || size < kWaveFormatSize + kSamplesPerBlockSize) {
    *reason = ReasonText("%s target: cbSize %u in a block of %u bytes leaves no wSamplesPerBlock",
                         name, format.cbSize, size);
    return false;
  }
  const uint16_t samplesPerBlock = LoadLe16(block + kWaveFormatSize);
  target->samplesPerBlock = samplesPerBlock;
  return target->kind == EncoderKind::ImaAdpcm ? CheckImaTarget(*target, samplesPerBlock, reason)
                                               : CheckGsmTarget(*target, samplesPerBlock, reason);
}

}  // namespace unpak
