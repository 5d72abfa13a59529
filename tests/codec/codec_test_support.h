#pragma once

// Driving the built codec module's drivers through the codec service.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/codec_driver.h"
#include "platform/wave_format.h"

namespace unpak {

// A pass or destination size that holds everything at once.
constexpr uint32_t kLarge = 1u << 20;

// Tests that need the codec module loaded and its drivers registered.
struct CodecModuleTest : testing::Test {
  void SetUp() override;
};

struct StreamRun {
  uint32_t pass = 0;  // the pass size used
  std::vector<uint8_t> out;
  std::vector<uint32_t> calls;  // bytes put out by each call
  std::string error;            // why the open or a call failed; the run stops there
};

// Presents `in` in passes of up to `pass` bytes (0: the destination-side size
// answer for `destination` bytes) with `flags`; bytes that a call leaves are
// presented again at the front of the next pass. Each call writes into a
// destination of `destination` bytes. With `end`, then calls with
// kConvertEnd until nothing more comes out.
StreamRun RunStream(const FormatBlock& source, const FormatBlock& target,
                    const std::vector<uint8_t>& in, uint32_t pass, uint32_t destination,
                    uint32_t flags = 0, bool end = true);

}  // namespace unpak
