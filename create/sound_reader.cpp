#include "create/sound_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace unpak {

namespace {

SoundReader& Reader(void* data) { return *static_cast<SoundReader*>(data); }

sf_count_t Length(void* data) { return Reader(data).size; }

sf_count_t Seek(sf_count_t offset, int whence, void* data) {
  SoundReader& reader = Reader(data);
  const sf_count_t base = whence == SEEK_CUR   ? reader.position
                          : whence == SEEK_END ? reader.size
                                               : 0;
  if (offset < -base || offset > reader.size - base) return -1;
  reader.position = base + offset;
  return reader.position;
}

sf_count_t Read(void* buffer, sf_count_t count, void* data) {
  SoundReader& reader = Reader(data);
  const sf_count_t n = std::clamp<sf_count_t>(reader.size - reader.position, 0, count);
  if (n > 0) std::memcpy(buffer, reader.bytes + reader.position, static_cast<size_t>(n));
  reader.position += n;
  return n;
}

sf_count_t Write(const void*, sf_count_t, void*) { return 0; }

sf_count_t Tell(void* data) { return Reader(data).position; }

SF_VIRTUAL_IO kMemoryIo = {Length, Seek, Read, Write, Tell};

}  // namespace

SoundReaderPtr OpenSoundReader(const uint8_t* bytes, size_t size, std::string* reason) {
  auto reader = std::make_unique<SoundReader>();
  reader->bytes = bytes;
  reader->size = static_cast<sf_count_t>(size);
  reader->file.reset(sf_open_virtual(&kMemoryIo, SFM_READ, &reader->info, reader.get()));
  if (!reader->file) {
    *reason = std::string("libsndfile cannot read it: ") + sf_strerror(nullptr);
    return nullptr;
  }
  return reader;
}

size_t ReadSoundFrames(SoundReader& reader, float* interleaved, size_t frames) {
  const sf_count_t read =
      sf_readf_float(reader.file.get(), interleaved, static_cast<sf_count_t>(frames));
  return read > 0 ? static_cast<size_t>(read) : 0;
}

}  // namespace unpak
