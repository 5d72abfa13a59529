// Fuzz target: the input is one entry payload with its target format (the
// layout is in fuzz_payload_input.h), checked and rebuilt as "out.wav" in the
// private folder.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "archive/pak_format.h"
#include "archive/pak_writer.h"
#include "convert/unpack_entry.h"
#include "fuzz/fuzz_payload_input.h"
#include "fuzz/fuzz_sandbox.h"
#include "platform/byte_order.h"
#include "platform/output_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace unpak;
  const bool raw = size > 0 && (data[0] & kFuzzRawTarget);
  const size_t header = raw ? 1 + kTargetFormatSize : 1;
  if (size < header) return 0;
  uint8_t target[kTargetFormatSize] = {};
  if (raw) {
    std::memcpy(target, data + 1, kTargetFormatSize);
    // The archive reader refuses targets whose extra bytes (cbSize at 16) overrun the field.
    if (LoadLe16(target + 16) > kTargetFormatMaxExtra) return 0;
  } else {
    const uint8_t selector = data[0];
    const FormatBlock pcm = MakePcmFormat(
        1 + (selector & 1), kFuzzRates[((selector >> 3) & 15) % std::size(kFuzzRates)],
        8 * (1 + ((selector >> 1) & 3)));
    std::memcpy(target, pcm.data(), pcm.size());
  }
  FuzzInSandbox([&] {
    std::string reason;
    EntryFacts facts;
    EntryResult result;
    const uint8_t* payload = data + header;
    const auto payloadSize = static_cast<uint32_t>(size - header);
    if (!InspectEntry(target, payload, payloadSize, &facts, &reason) ||
        !UnpackEntry(facts, payload, payloadSize, OutputKeeping::kInCurrentDirectory, &result,
                     &reason) ||
        !PlacePendingOutput(std::move(result.output), "out.wav", &reason)) {
      std::fprintf(stderr, "entry refused: %s\n", reason.c_str());
    }
  });
  return 0;
}
