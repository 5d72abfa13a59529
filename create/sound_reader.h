#pragma once

// The audio of a sound file held in memory, read with libsndfile: PCM of 8
// to 32 bits, float, mu-law, A-law, IMA ADPCM, GSM 6.10 and whatever else it
// decodes.

#include <sndfile.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace unpak {

struct SndfileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};

struct SoundReader {
  const uint8_t* bytes = nullptr;  // the whole file, not owned
  sf_count_t size = 0;
  sf_count_t position = 0;  // libsndfile's read position in `bytes`
  SF_INFO info{};           // frames, samplerate, channels, format
  std::unique_ptr<SNDFILE, SndfileCloser> file;
};
using SoundReaderPtr = std::unique_ptr<SoundReader>;

// Opens the file held in `bytes`, which must outlive the reader. Null, with
// libsndfile's reason, when it cannot read it.
SoundReaderPtr OpenSoundReader(const uint8_t* bytes, size_t size, std::string* reason);

// Reads up to `frames` sample frames as interleaved floats, full scale
// being 1. Returns the frames read: fewer only at the end.
size_t ReadSoundFrames(SoundReader& reader, float* interleaved, size_t frames);

}  // namespace unpak
