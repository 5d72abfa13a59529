#include "create/entry_length.h"

#include <algorithm>
#include <limits>

#include "platform/byte_order.h"
#include "platform/codec_service.h"
#include "platform/wave_format.h"

namespace unpak {

namespace {

constexpr uint64_t kLongest = std::numeric_limits<uint32_t>::max();

bool Refuse(const std::string& why, std::string* reason) {
  *reason = why;
  return false;
}

bool TooLong(std::string* reason) {
  return Refuse("it is too long for an archive entry (over 4 GiB decoded)", reason);
}

// A PCM target is cut at the input's data length. Odd lengths of 8-bit
// audio lose two bytes when the cap cuts them, so those stop two bytes on.
bool PcmLength(const WaveFormat& target, uint64_t inputFrames, uint32_t dataLength,
               EntryLength* length, std::string* reason) {
  const uint64_t stop = dataLength + (target.wBitsPerSample == 8 && dataLength % 2 == 1 ? 2 : 0);
  if (stop > kLongest) return TooLong(reason);
  length->decodedLength = static_cast<uint32_t>(stop);
  length->audioLength = dataLength;
  const uint64_t frames = (uint64_t{dataLength} + target.nBlockAlign - 1) / target.nBlockAlign;
  length->framesToEncode = std::max(inputFrames, frames);
  return true;
}

// Sample frames per block of an encoded target: its wSamplesPerBlock where it
// has one (IMA ADPCM, GSM 6.10), else 1.
uint64_t SamplesPerBlock(std::span<const uint8_t> target, const WaveFormat& format) {
  if (format.cbSize < 2 || target.size() < kWaveFormatSize + 2) return 1;
  return std::max<uint64_t>(1, LoadLe16(target.data() + kWaveFormatSize));
}

}  // namespace

bool ChooseEntryLength(std::span<const uint8_t> target, std::span<const uint8_t> mp3Format,
                       uint64_t inputFrames, uint32_t dataLength, EntryLength* length,
                       std::string* reason) {
  const WaveFormat format = ReadWaveFormat(target.data());
  if (format.nBlockAlign == 0) return Refuse("its format's nBlockAlign is 0", reason);
  if (format.wFormatTag == kWaveFormatPcm) {
    return PcmLength(format, inputFrames, dataLength, length, reason);
  }
  FormatBlock intermediate(kWaveFormatSize, 0);
  StoreLe16(intermediate.data(), kWaveFormatPcm);
  if (!CodecFormatSuggest(mp3Format, intermediate)) {
    return Refuse("no codec decodes MPEG Layer-3 to PCM", reason);
  }
  const WaveFormat pcm = ReadWaveFormat(intermediate.data());

  // The encoder pads a last part block with silence: any count of frames in
  // (lowest, highest] gives the input's whole blocks; a part block at the
  // end of the input's "data" chunk is no audio and is left out.
  const uint64_t samplesPerBlock = SamplesPerBlock(target, format);
  const uint64_t blocks = dataLength / format.nBlockAlign;
  const uint64_t highest = blocks * samplesPerBlock;
  const uint64_t lowest =
      blocks == 0 ? 0 : std::clamp(inputFrames, (blocks - 1) * samplesPerBlock + 1, highest);
  if (lowest > kLongest) return TooLong(reason);
  // At another rate the encoder's resampler puts out round(frames x ratio)
  // frames. The first count of decoded frames whose scaled length lies
  // clearly above lowest - 1/2 is taken, and must lie clearly below
  // highest + 1/2, so that no rounding of the ratio can tip the count.
  const uint64_t from = pcm.nSamplesPerSec;
  const uint64_t to = format.nSamplesPerSec;
  uint64_t decodedFrames = lowest;
  if (from != to && lowest > 0) {
    decodedFrames = (2 * lowest - 1) * from / (2 * to) + 1;
    if (2 * decodedFrames * to >= (2 * highest + 1) * from) {
      return Refuse("unpak cannot give back its length exactly: its " + std::to_string(to) +
                        " Hz audio is made from the " + std::to_string(from) +
                        " Hz MP3 audio by a resampler whose output length does not fit its "
                        "blocks",
                    reason);
    }
  }
  const uint64_t stop = decodedFrames * pcm.nBlockAlign;
  if (stop > kLongest) return TooLong(reason);
  length->decodedLength = static_cast<uint32_t>(stop);
  length->audioLength = static_cast<uint32_t>(blocks * format.nBlockAlign);
  length->framesToEncode = std::max(inputFrames, lowest);
  return true;
}

uint64_t FramesInAudio(std::span<const uint8_t> target, uint32_t audioLength) {
  const WaveFormat format = ReadWaveFormat(target.data());
  if (format.nBlockAlign == 0) return 0;
  const uint64_t samplesPerBlock =
      format.wFormatTag == kWaveFormatPcm ? 1 : SamplesPerBlock(target, format);
  return audioLength / format.nBlockAlign * samplesPerBlock;
}

bool ChooseEntryLengthOfFrames(std::span<const uint8_t> target, std::span<const uint8_t> mp3Format,
                               uint64_t frames, EntryLength* length, std::string* reason) {
  const WaveFormat format = ReadWaveFormat(target.data());
  const uint64_t samplesPerBlock =
      format.wFormatTag == kWaveFormatPcm ? 1 : SamplesPerBlock(target, format);
  const uint64_t dataLength =
      (frames + samplesPerBlock - 1) / samplesPerBlock * uint64_t{format.nBlockAlign};
  if (dataLength > kLongest) return TooLong(reason);
  return ChooseEntryLength(target, mp3Format, frames, static_cast<uint32_t>(dataLength), length,
                           reason);
}

}  // namespace unpak
