#pragma once

// The MPEG conformance vectors, wrapped as archive entries and unpacked by
// the program; the vectors are read in place and never copied.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/mpeg_frames.h"

struct ConformanceVector {
  std::string name;          // e.g. "mpeg1/compl"
  std::string bitstream;     // paths relative to the vectors' folder
  std::string reference;
  int rate = 0;
  int channels = 0;          // 0 for a stream that switches ("mixed")
  size_t referenceSamples = 0;  // per channel (all values for a mixed stream)
  size_t leadSkip = 0;          // decoded sample frames before the reference starts
  size_t trailingExtra = 0;     // decoded sample frames after it ends
};

// The rows of manifest.tsv; empty when it cannot be read.
std::vector<ConformanceVector> ReadManifest(const std::filesystem::path& folder);

// A vector read in and unpacked.
struct UnpackedVector {
  ConformanceVector vector;
  std::vector<MpegFrame> frames;
  std::vector<int16_t> reference;
  uint32_t decodedLength = 0;
  std::vector<int16_t> decoded;  // the output's "data" chunk
  bool found = false;            // the output file has a "data" chunk
};

struct UnpackRun {
  std::vector<UnpackedVector> vectors;
  std::vector<std::string> missing;  // vectors whose files are absent
  int exitStatus = -1;
  std::string err;
};

// Builds one archive holding each vector as an entry (MPEG Layer-3 source,
// nBlockSize the first frame's length, nCodecDelay 0; a 16-bit PCM target at
// the stream's rate, stereo for a mixed stream; decodedLength covering the
// lead, the reference and the trailing extra), runs the program on it in a
// temporary folder and collects what it wrote.
UnpackRun UnpackVectors(const std::filesystem::path& folder,
                        const std::vector<ConformanceVector>& vectors);

// Differences from a reference, gathered sample by sample.
struct Figures {
  size_t compared = 0;
  int maxDiff = 0;
  double sumSquares = 0;
};
void AddDifference(Figures* figures, int expected, int actual);
// Adds `count` samples of `decoded` from `decodedStart` against `reference`
// from `referenceStart`; false (adding nothing) when either is too short.
bool AddRange(Figures* figures, const std::vector<int16_t>& reference, size_t referenceStart,
              const std::vector<int16_t>& decoded, size_t decodedStart, size_t count);
double Rms(const Figures& figures);
