#include "tests/conformance/conformance_vectors.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "archive/pak_writer.h"
#include "tests/support/file_io.h"
#include "tests/support/pcm_compare.h"
#include "tests/support/riff_layout.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

std::vector<ConformanceVector> ReadManifest(const std::filesystem::path& folder) {
  std::vector<ConformanceVector> vectors;
  std::ifstream in(folder / "manifest.tsv");
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    ConformanceVector v;
    std::string channels;
    if (!(fields >> v.bitstream >> v.reference >> v.rate >> channels >> v.referenceSamples >>
          v.leadSkip >> v.trailingExtra)) {
      continue;
    }
    v.channels = channels == "mixed" ? 0 : std::atoi(channels.c_str());
    v.name = v.bitstream.substr(0, v.bitstream.rfind('.'));
    vectors.push_back(v);
  }
  return vectors;
}

namespace {

int OutputChannels(const ConformanceVector& v) { return v.channels == 0 ? 2 : v.channels; }

// The bytes of audio the output must hold: the lead, the reference and the
// trailing extra; for a mixed stream, every frame decoded as stereo.
uint32_t CoveringLength(const ConformanceVector& v, const std::vector<MpegFrame>& frames) {
  if (v.channels == 0) {
    size_t values = 0;
    for (const MpegFrame& frame : frames) values += size_t(frame.header.samplesPerFrame) * 2;
    return static_cast<uint32_t>(values * 2);
  }
  return static_cast<uint32_t>((v.leadSkip + v.referenceSamples + v.trailingExtra) * v.channels * 2);
}

std::string EntryPath(const ConformanceVector& v) {
  std::string path = "vectors\\" + v.name + ".wav";
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

}  // namespace

UnpackRun UnpackVectors(const std::filesystem::path& folder,
                        const std::vector<ConformanceVector>& vectors) {
  UnpackRun run;
  std::vector<PakEntrySource> sources;
  for (const ConformanceVector& v : vectors) {
    const std::vector<uint8_t> stream = ReadBytes(folder / v.bitstream);
    const std::vector<uint8_t> referenceBytes = ReadBytes(folder / v.reference);
    if (stream.empty() || referenceBytes.empty()) {
      run.missing.push_back(v.name);
      continue;
    }
    UnpackedVector unpacked;
    unpacked.vector = v;
    unpacked.frames = ScanMpegFrames(stream);
    unpacked.reference = SamplesFromBytes(referenceBytes, 0, referenceBytes.size());
    unpacked.decodedLength = CoveringLength(v, unpacked.frames);

    const uint16_t channels = static_cast<uint16_t>(OutputChannels(v));
    const uint16_t blockSize =
        unpacked.frames.empty() ? 1152 : static_cast<uint16_t>(unpacked.frames[0].length);
    const uint32_t bitrate = static_cast<uint32_t>(uint64_t{blockSize} * 8 * v.rate /
                                                   (v.rate >= 32000 ? 1152 : 576));
    PayloadParts parts;
    parts.sourceFormat =
        MakeMpegLayer3Format(channels, static_cast<uint32_t>(v.rate), bitrate, blockSize, 0);
    parts.decodedLength = unpacked.decodedLength;
    parts.mp3 = stream;
    sources.push_back({EntryPath(v), MakePcmFormat(channels, static_cast<uint32_t>(v.rate), 16),
                       BuildEntryPayload(parts)});
    run.vectors.push_back(std::move(unpacked));
  }
  if (sources.empty()) return run;

  TempDir dir;
  WriteBytes(dir.path / "vectors.pak", BuildPak(sources, 0));
  const ProgramResult result = RunUnpak({"vectors.pak"}, dir.path);
  run.exitStatus = result.exitStatus;
  run.err = result.err;
  for (UnpackedVector& unpacked : run.vectors) {
    const std::vector<uint8_t> file = ReadBytes(dir.path / "vectors" / (unpacked.vector.name + ".wav"));
    const RiffLayout layout = ParseRiff(file);
    const RiffChunkSpan* data = layout.valid ? FindChunk(layout, "data") : nullptr;
    if (data == nullptr) continue;
    unpacked.found = true;
    unpacked.decoded = SamplesFromBytes(file, data->offset + 8, data->size);
  }
  return run;
}

void AddDifference(Figures* figures, int expected, int actual) {
  const int diff = std::abs(actual - expected);
  ++figures->compared;
  figures->maxDiff = std::max(figures->maxDiff, diff);
  figures->sumSquares += double(diff) * diff;
}

bool AddRange(Figures* figures, const std::vector<int16_t>& reference, size_t referenceStart,
              const std::vector<int16_t>& decoded, size_t decodedStart, size_t count) {
  if (referenceStart + count > reference.size() || decodedStart + count > decoded.size()) {
    return false;
  }
  for (size_t i = 0; i < count; ++i) {
    AddDifference(figures, reference[referenceStart + i], decoded[decodedStart + i]);
  }
  return true;
}

double Rms(const Figures& figures) {
  return figures.compared == 0 ? 0 : std::sqrt(figures.sumSquares / double(figures.compared));
}
