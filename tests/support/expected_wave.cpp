#include "tests/support/expected_wave.h"

#include "platform/byte_order.h"

void AppendBytes(std::vector<uint8_t>* out, const std::vector<uint8_t>& bytes) {
  out->insert(out->end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> Le32(uint32_t value) {
  std::vector<uint8_t> bytes(4);
  StoreLe32(bytes.data(), value);
  return bytes;
}

std::vector<uint8_t> ChunkBytes(const std::string& id, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes(id.begin(), id.end());
  AppendBytes(&bytes, Le32(static_cast<uint32_t>(data.size())));
  AppendBytes(&bytes, data);
  if (data.size() % 2 != 0) bytes.push_back(0);
  return bytes;
}

std::vector<uint8_t> PcmFmtBytes(int channels, int rate, int bits) {
  const int blockAlign = channels * bits / 8;
  std::vector<uint8_t> bytes(16);
  StoreLe16(bytes.data(), 1);
  StoreLe16(bytes.data() + 2, static_cast<uint16_t>(channels));
  StoreLe32(bytes.data() + 4, static_cast<uint32_t>(rate));
  StoreLe32(bytes.data() + 8, static_cast<uint32_t>(rate * blockAlign));
  StoreLe16(bytes.data() + 12, static_cast<uint16_t>(blockAlign));
  StoreLe16(bytes.data() + 14, static_cast<uint16_t>(bits));
  return bytes;
}

std::vector<uint8_t> ExpectedWave(const std::vector<uint8_t>& fmt,
                                  const std::vector<uint8_t>& between,
                                  const std::vector<uint8_t>& audio,
                                  const std::vector<uint8_t>& after) {
  std::vector<uint8_t> form{'W', 'A', 'V', 'E'};
  AppendBytes(&form, ChunkBytes("fmt ", fmt));
  AppendBytes(&form, between);
  AppendBytes(&form, ChunkBytes("data", audio));
  AppendBytes(&form, after);
  std::vector<uint8_t> file{'R', 'I', 'F', 'F'};
  AppendBytes(&file, Le32(static_cast<uint32_t>(form.size())));
  AppendBytes(&file, form);
  if (form.size() % 2 != 0) file.push_back(0);
  return file;
}
