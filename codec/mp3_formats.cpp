#include "codec/mp3_formats.h"

#include <cstring>

#include "codec/pcm_stage.h"
#include "codec/reason_text.h"
#include "platform/mpeg_layer3.h"

namespace unpak {

namespace {

// A PCM "fmt " chunk may stop after wBitsPerSample: this many bytes suffice.
constexpr uint32_t kPcmFormatMinSize = 16;

// Reads a format header of at least 16 bytes; a missing cbSize counts as 0.
WaveFormat ReadShortWaveFormat(const uint8_t* block, uint32_t size) {
  uint8_t header[kWaveFormatSize] = {};
  std::memcpy(header, block, size < kWaveFormatSize ? size : kWaveFormatSize);
  return ReadWaveFormat(header);
}

// kCodecOk when `format` is an MPEG Layer-3 block with usable channels and rate.
int32_t CheckDecoderSourceHeader(const uint8_t* block, uint32_t size, WaveFormat* format,
                                 std::string* reason) {
  if (!block || size < kWaveFormatSize) {
    *reason =
        ReasonText("source format block of %u bytes is shorter than %zu", size, kWaveFormatSize);
    return kCodecNotPossible;
  }
  *format = ReadWaveFormat(block);
  if (format->wFormatTag != kWaveFormatMpegLayer3) {
    *reason = ReasonText("source format tag 0x%04x is not MPEG Layer-3 (0x%04x)",
                         format->wFormatTag, kWaveFormatMpegLayer3);
    return kCodecNotPossible;
  }
  if (format->nChannels != 1 && format->nChannels != 2) {
    *reason =
        ReasonText("MPEG Layer-3 source with %u channels; only 1 or 2 exist", format->nChannels);
    return kCodecNotPossible;
  }
  if (!IsLayer3Rate(format->nSamplesPerSec)) {
    *reason = ReasonText("MPEG Layer-3 source at %u Hz, which is not an MPEG sample rate",
                         format->nSamplesPerSec);
    return kCodecNotPossible;
  }
  return kCodecOk;
}

}  // namespace

int32_t CheckDecoderSource(const uint8_t* block, uint32_t size, WaveFormat* format,
                           std::string* reason) {
  int32_t result = CheckDecoderSourceHeader(block, size, format, reason);
  if (result != kCodecOk) return result;
  MpegLayer3Fields fields;
  if (!ReadMpegLayer3Fields(block, size, &fields)) {
    *reason = ReasonText(
        "MPEG Layer-3 format block of %u bytes with cbSize %u is too short; it needs %zu bytes "
        "with cbSize %zu",
        size, format->cbSize, kWaveFormatSize + kMpegLayer3ExtraSize, kMpegLayer3ExtraSize);
    return kCodecNotPossible;
  }
  if (format->nBlockAlign == 0) {
    *reason = "MPEG Layer-3 source with nBlockAlign 0";
    return kCodecNotPossible;
  }
  return kCodecOk;
}

int32_t CheckPcmTarget(const uint8_t* block, uint32_t size, WaveFormat* format,
                       std::string* reason) {
  if (!block || size < kPcmFormatMinSize) {
    *reason =
        ReasonText("target format block of %u bytes is shorter than %u", size, kPcmFormatMinSize);
    return kCodecNotPossible;
  }
  *format = ReadShortWaveFormat(block, size);
  if (format->wFormatTag != kWaveFormatPcm) {
    *reason = ReasonText("MPEG Layer-3 decodes to PCM only, not to format tag 0x%04x",
                         format->wFormatTag);
    return kCodecNotPossible;
  }
  const uint16_t bits = format->wBitsPerSample;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    *reason =
        ReasonText("PCM target with %u bits per sample; only 8, 16, 24 and 32 are supported", bits);
    return kCodecNotPossible;
  }
  if (format->nChannels != 1 && format->nChannels != 2) {
    *reason =
        ReasonText("PCM target with %u channels; only 1 or 2 are supported", format->nChannels);
    return kCodecNotPossible;
  }
  if (format->nSamplesPerSec < kLowestPcmRate || format->nSamplesPerSec > kHighestPcmRate) {
    *reason = ReasonText("PCM target at %u Hz; only %u to %u Hz are supported",
                         format->nSamplesPerSec, kLowestPcmRate, kHighestPcmRate);
    return kCodecNotPossible;
  }
  const uint32_t blockAlign = format->nChannels * format->wBitsPerSample / 8u;
  if (format->nBlockAlign != blockAlign) {
    *reason =
        ReasonText("PCM target nBlockAlign %u should be %u for %u channels of %u bits",
                   format->nBlockAlign, blockAlign, format->nChannels, format->wBitsPerSample);
    return kCodecNotPossible;
  }
  return kCodecOk;
}

int32_t SuggestPcmFormat(const uint8_t* source, uint32_t sourceSize, uint8_t* suggested,
                         uint32_t suggestedSize) {
  WaveFormat mp3;
  std::string reason;
  if (!suggested || suggestedSize < kWaveFormatSize ||
      CheckDecoderSourceHeader(source, sourceSize, &mp3, &reason) != kCodecOk) {
    return kCodecNotPossible;
  }
  const uint16_t presetTag = ReadWaveFormat(suggested).wFormatTag;
  if (presetTag != 0 && presetTag != kWaveFormatPcm) return kCodecNotPossible;
  WaveFormat pcm;
  pcm.wFormatTag = kWaveFormatPcm;
  pcm.nChannels = mp3.nChannels;
  pcm.nSamplesPerSec = mp3.nSamplesPerSec;
  pcm.wBitsPerSample = 16;
  pcm.nBlockAlign = static_cast<uint16_t>(2 * pcm.nChannels);
  pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;
  pcm.cbSize = 0;
  WriteWaveFormat(pcm, suggested);
  return kCodecOk;
}

}  // namespace unpak
