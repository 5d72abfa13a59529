#include "tests/support/wave_output.h"

#include "platform/byte_order.h"
#include "tests/support/expected_wave.h"

std::optional<std::vector<uint8_t>> WaveAudio(const std::vector<uint8_t>& file,
                                              const std::vector<uint8_t>& fmt,
                                              const std::vector<uint8_t>& between,
                                              const std::vector<uint8_t>& after,
                                              std::string* problem) {
  const size_t header = 12 + 8 + fmt.size() + fmt.size() % 2 + between.size();
  if (file.size() < header + 8) {
    *problem = "the file is " + std::to_string(file.size()) + " bytes, too short for its chunks";
    return std::nullopt;
  }
  const std::string id(file.begin() + header, file.begin() + header + 4);
  const uint32_t length = LoadLe32(file.data() + header + 4);
  if (id != "data" || length > file.size() - header - 8) {
    *problem = "no whole \"data\" chunk where it belongs (found \"" + id + "\")";
    return std::nullopt;
  }
  std::vector<uint8_t> audio(file.begin() + header + 8, file.begin() + header + 8 + length);
  if (ExpectedWave(fmt, between, audio, after) != file) {
    *problem = "the bytes around the audio are not as expected";
    return std::nullopt;
  }
  return audio;
}

std::vector<int32_t> PcmSampleValues(const std::vector<uint8_t>& bytes, int bits) {
  const size_t width = static_cast<size_t>(bits) / 8;
  std::vector<int32_t> values(bytes.size() / width);
  for (size_t i = 0; i < values.size(); ++i) {
    const uint8_t* p = bytes.data() + i * width;
    switch (bits) {
      case 8:
        values[i] = p[0] - 128;
        break;
      case 16:
        values[i] = static_cast<int16_t>(LoadLe16(p));
        break;
      case 24:
        values[i] = static_cast<int32_t>((p[0] << 8) | (p[1] << 16) | (uint32_t{p[2]} << 24)) >> 8;
        break;
      default:
        values[i] = static_cast<int32_t>(LoadLe32(p));
        break;
    }
  }
  return values;
}
