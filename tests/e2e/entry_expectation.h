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

struct MusicEntry {
  std::string path;                   // as stored, with backslashes
  const EncodedClip* clip = nullptr;  // the source audio and its MP3 stream
  int channels = 0;                   // the PCM target
  int bits = 16;
  std::vector<uint8_t> mp3;           // the "data" chunk's contents
  std::vector<uint8_t> payload;
  std::vector<uint8_t> between;       // expected between "fmt " and "data"
  std::vector<uint8_t> after;         // expected after "data"
  std::optional<uint32_t> cap;        // decodedLength, when there is a "skee" chunk
};

// The target's bytes per sample frame.
uint32_t TargetBlockAlign(const MusicEntry& entry);

// A plain entry: "fmt ", "skee" with the clip's whole length in the target
// format, "data" with the whole MP3 stream.
MusicEntry PlainMusicEntry(const std::string& path, const EncodedClip& clip, int channels,
                           int bits);

// Builds the payload from `parts` (with the entry's source format and MP3
// stream filled in) and records what the output must copy: the kept chunks
// before "data", the tail chunks after it.
void SetPayloadParts(MusicEntry* entry, PayloadParts parts);

PakEntrySource PakSource(const MusicEntry& entry);

struct ExpectedOutput {
  std::vector<uint8_t> file;
  int marks = 0;
  uint32_t dataLength = 0;
  size_t dataOffset = 0;  // of the "data" chunk's contents in `file`
};
ExpectedOutput ExpectOutput(const MusicEntry& entry);

// "Decompressing <path> : " with its marks and the newline.
std::string ExpectedLine(const MusicEntry& entry);

// The output path in the local file system: backslashes become slashes.
std::filesystem::path LocalPath(const std::filesystem::path& root, const std::string& stored);

// Checks the entry's output file in `root`: byte for byte (audio samples
// within one step after a mono mix, which may round either way), and that
// its audio lines up with the clip's original samples.
void CheckOutput(const std::filesystem::path& root, const MusicEntry& entry);

// Little-endian field patching in a built archive.
void PatchLe32(std::vector<uint8_t>* bytes, size_t offset, uint32_t value);
void PatchLe16(std::vector<uint8_t>* bytes, size_t offset, uint16_t value);
// File offset of the entry record at `index`.
size_t EntryRecordOffset(const std::vector<uint8_t>& pak, uint32_t index);
