#pragma once

// An archive entry built from an encoded clip, with everything its output
// file and its console line must hold, worked out without the program.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "archive/pak_writer.h"
#include "tests/support/encoded_clip.h"
#include "tests/support/run_program.h"

namespace unpak {

// Two seconds of synthesized music: 44.1 kHz stereo (MPEG-1, 128 kbps) and
// 22.05 kHz mono (MPEG-2 LSF, 64 kbps).
const EncodedClip& StereoClip();
const EncodedClip& MonoClip();

struct MusicEntry {
  std::string path;                   // as stored, with backslashes
  const EncodedClip* clip = nullptr;  // the source audio and its MP3 stream
  int channels = 0;                   // the decoded PCM: the target, or what a
  int bits = 16;                      // non-PCM target is encoded from
  FormatBlock target;
  std::vector<uint8_t> mp3;  // the "data" chunk's contents
  std::vector<uint8_t> payload = {};
  std::vector<uint8_t> between = {};  // expected between "fmt " and "data"
  std::vector<uint8_t> after = {};    // expected after "data"
  std::optional<uint32_t> cap = {};   // decodedLength, when there is a "skee" chunk
};

// A PCM entry at `rate` (0: the clip's): "fmt ", "skee" with the clip's
// whole length in the target format, "data" with the whole MP3 stream.
MusicEntry PlainMusicEntry(const std::string& path, const EncodedClip& clip, int channels, int bits,
                           int rate = 0);

// The entry with its payload rebuilt: "fmt ", the dropped chunks, "skee"
// holding `cap`, the kept chunks, "data", the tail chunks; and what the
// output must copy: the kept chunks before "data", the tail after it.
MusicEntry WithParts(MusicEntry entry, uint32_t cap, const std::vector<RiffChunk>& kept = {},
                     const std::vector<RiffChunk>& tail = {},
                     const std::vector<RiffChunk>& dropped = {});

PakEntrySource PakSource(const MusicEntry& entry);

// The progress marks and the PCM audio (the cut of the codec delay, the cap
// and its 8-bit rule applied) that the decode stage must give.
struct ExpectedOutput {
  int marks = 0;
  std::vector<uint8_t> audio;
};
ExpectedOutput ExpectOutput(const MusicEntry& entry);

// "Decompressing <path> : " with its marks and the newline.
std::string ExpectedLine(const MusicEntry& entry);

// Writes the entries to `dir`/test.pak and runs the program on it there;
// `transcript` receives the console lines they must give.
ProgramResult UnpackEntries(const std::filesystem::path& dir,
                            const std::vector<MusicEntry>& entries, std::string* transcript);

// The output's audio, after checking every byte around it: "RIFF" size
// "WAVE", a "fmt " chunk of the target's first 16 bytes (PCM) or 18 + cbSize
// (any other), `between`, the padded "data" chunk, `after`, and the form's
// pad byte; empty on failure.
std::vector<uint8_t> OutputAudio(const std::filesystem::path& root, const MusicEntry& entry);

// Checks that the first channel of `actual` (samples of `bits` bits) lines
// up with the 16-bit `reference` at lag 0 by normalized cross-correlation,
// over up to 16384 sample frames.
void ExpectAligned(const std::vector<int16_t>& reference, const std::vector<int32_t>& actual,
                   int bits, int channels, int maxLag);

// Checks a PCM entry's output file in `root`: byte for byte (samples within
// one step after a mono mix, which may round either way), and aligned with
// the clip's original samples.
void CheckOutput(const std::filesystem::path& root, const MusicEntry& entry);

}  // namespace unpak
