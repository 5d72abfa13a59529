// Fuzz target: the input is a WAV file, planned and encoded as an archive
// entry the way `pak create` does, at LAME's fastest quality.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "create/wave_entry.h"
#include "fuzz/fuzz_sandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace unpak;
  static CodecDelays delays;  // measured once per setting, as in a run
  FuzzInSandbox([&] {
    CreateSettings settings;
    settings.quality = 9;
    WaveEntryPlan plan;
    std::string reason;
    if (!PlanWaveEntry(data, size, settings, &delays, &plan, &reason) ||
        !EncodeWaveEntry(data, size, &plan, &reason)) {
      std::fprintf(stderr, "input refused: %s\n", reason.c_str());
      return;
    }
    BuildEntryPayload(plan.parts);
  });
  return 0;
}
