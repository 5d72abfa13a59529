// Fuzz target: the input is a whole archive, updated as `pak update -o`
// does with a short WAV file named after its first entry (replacing it)
// and another one (added). An archive that the update writes must open
// again.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/entry_path.h"
#include "archive/pak_reader.h"
#include "create/update_archive.h"
#include "fuzz/fuzz_sandbox.h"
#include "pak/commands.h"
#include "platform/byte_order.h"

namespace unpak {
namespace {

// 0.05 s of a 440 Hz tone, 16-bit mono PCM at 8000 Hz.
std::vector<uint8_t> ToneWave() {
  constexpr uint32_t kFrames = 400;
  std::vector<uint8_t> wave(44 + 2 * kFrames);
  const auto put = [&wave](size_t at, const char* text) { std::copy_n(text, 4, &wave[at]); };
  put(0, "RIFF");
  StoreLe32(&wave[4], static_cast<uint32_t>(wave.size() - 8));
  put(8, "WAVE");
  put(12, "fmt ");
  StoreLe32(&wave[16], 16);
  StoreLe16(&wave[20], 1);
  StoreLe16(&wave[22], 1);
  StoreLe32(&wave[24], 8000);
  StoreLe32(&wave[28], 16000);
  StoreLe16(&wave[32], 2);
  StoreLe16(&wave[34], 16);
  put(36, "data");
  StoreLe32(&wave[40], 2 * kFrames);
  for (uint32_t i = 0; i < kFrames; ++i) {
    const double sample = 8000 * std::sin(2 * M_PI * 440 * i / 8000.0);
    StoreLe16(&wave[44 + 2 * i], static_cast<uint16_t>(static_cast<int16_t>(sample)));
  }
  return wave;
}

// Writes the input file, where the name allows one (not too long, say).
void WriteInput(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// The first entry's path, when the archive's header and that entry read.
std::string FirstEntryPath(const uint8_t* data, size_t size) {
  PakHeader header;
  std::string reason;
  EntryView view;
  if (!ReadPakHeader(data, size, &header, &reason) || header.entryCount == 0 ||
      !ResolvePakEntry(data, size, header, ReadPakEntry(data, header, 0), &view, &reason) ||
      !CheckOutputPathForm(view.path, &reason)) {
    return "";
  }
  return view.path;
}

}  // namespace
}  // namespace unpak

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace unpak;
  static const std::vector<uint8_t> tone = ToneWave();
  static CodecDelays delays;  // measured once per rate, as in a run
  const std::string first = FirstEntryPath(data, size);
  FuzzArchiveInSandbox(data, size, [&](const std::string& path) {
    if (!first.empty()) WriteInput("in/" + NativePath(first), tone);
    WriteInput("in/added.wav", tone);
    UpdateRequest request;
    request.archive = path;
    request.output = "new.pak";
    request.inputs = {{"in", "."}};  // named as the entries are
    request.settings.quality = 9;
    request.delays = &delays;
    if (UpdateArchive(request) == UpdateStatus::kUpdated &&
        ListArchive("new.pak", false, {}) == kPakUsageError) {
      std::abort();  // the update wrote an archive that cannot be read
    }
  });
  return 0;
}
