// Fuzz target: the input is one entry payload with its target format (the
// layout is in fuzz_payload_input.h), rebuilt as "out.wav" in the private
// folder.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "archive/pak_format.h"
#include "convert/unpack_entry.h"
#include "platform/byte_order.h"
#include "platform/wave_format.h"
#include "tests/fuzz/fuzz_payload_input.h"
#include "tests/fuzz/fuzz_sandbox.h"

namespace {

constexpr size_t kCbSizeOffset = 16;

void DerivePcmTarget(uint8_t selector, uint8_t* target) {
  WaveFormat format;
  format.wFormatTag = kWaveFormatPcm;
  format.nChannels = static_cast<uint16_t>(1 + (selector & 1));
  format.wBitsPerSample = static_cast<uint16_t>(8 * (1 + ((selector >> 1) & 3)));
  format.nSamplesPerSec = kFuzzRates[((selector >> 3) & 15) % std::size(kFuzzRates)];
  format.nBlockAlign = static_cast<uint16_t>(format.nChannels * format.wBitsPerSample / 8);
  format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
  WriteWaveFormat(format, target);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzSandboxInit();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint8_t target[kTargetFormatSize] = {};
  const uint8_t selector = data[0];
  size_t header = 1;
  if (selector & kFuzzRawTarget) {
    if (size < 1 + kTargetFormatSize) return 0;
    std::memcpy(target, data + 1, kTargetFormatSize);
    header += kTargetFormatSize;
    // The archive reader refuses targets whose extra bytes overrun the field.
    if (LoadLe16(target + kCbSizeOffset) > kTargetFormatMaxExtra) return 0;
  } else {
    DerivePcmTarget(selector, target);
  }
  FuzzSandboxEnter();
  std::string reason;
  if (!UnpackEntry("out.wav", target, data + header, static_cast<uint32_t>(size - header),
                   &reason)) {
    std::fprintf(stderr, "entry refused: %s\n", reason.c_str());
  }
  FuzzSandboxLeave();
  return 0;
}
