#include "tests/support/wave_bytes.h"

namespace unpak {

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

void AppendBytes(std::vector<uint8_t>* out, const std::vector<uint8_t>& bytes) {
  out->insert(out->end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> Le32(uint32_t value) {
  return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

std::vector<uint8_t> ChunkBytes(const std::string& id, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes(id.begin(), id.end());
  AppendBytes(&bytes, Le32(static_cast<uint32_t>(data.size())));
  AppendBytes(&bytes, data);
  if (data.size() % 2 != 0) bytes.push_back(0);
  return bytes;
}

std::vector<int32_t> PcmValues(const std::vector<uint8_t>& bytes, int bits) {
  const size_t width = static_cast<size_t>(bits) / 8;
  std::vector<int32_t> values(bytes.size() / width);
  for (size_t i = 0; i < values.size(); ++i) {
    uint32_t word = 0;  // the sample in the top bits
    for (size_t k = 0; k < width; ++k) word = (word >> 8) | uint32_t{bytes[i * width + k]} << 24;
    values[i] = static_cast<int32_t>(bits == 8 ? word ^ 0x80000000u : word) >> (32 - bits);
  }
  return values;
}

}  // namespace unpak
