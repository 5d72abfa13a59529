// Writes the bundled example archive: three short synthesized pieces,
// MP3-compressed, with PCM targets, one of them carrying extra chunks.

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "archive/pak_writer.h"
#include "platform/byte_order.h"
#include "tools/mp3_encoder.h"
#include "tools/synth.h"

namespace {

struct ExampleEntry {
  std::string path;
  int channels = 0;
  int rate = 0;
  int bitrateKbps = 0;
  uint16_t targetBits = 0;
  int frames = 0;
  uint32_t seed = 0;
  std::vector<RiffChunk> dropped;
  std::vector<RiffChunk> kept;
  std::vector<RiffChunk> tail;
};

std::vector<uint8_t> Le32Bytes(uint32_t value) {
  std::vector<uint8_t> bytes(4);
  StoreLe32(bytes.data(), value);
  return bytes;
}

void Append(std::vector<uint8_t>* out, const std::string& text) {
  out->insert(out->end(), text.begin(), text.end());
}

void Append(std::vector<uint8_t>* out, const std::vector<uint8_t>& bytes) {
  out->insert(out->end(), bytes.begin(), bytes.end());
}

// A "LIST" chunk of type "INFO" with one "INAM" (title) item.
RiffChunk InfoList(const std::string& title) {
  std::vector<uint8_t> name(title.begin(), title.end());
  name.push_back('\0');
  std::vector<uint8_t> data;
  Append(&data, "INFO");
  Append(&data, "INAM");
  Append(&data, Le32Bytes(static_cast<uint32_t>(name.size())));
  Append(&data, name);
  if (name.size() % 2 != 0) {
    data.push_back(0);
  }
  return {"LIST", data};
}

// A "cue " chunk with a single cue point at `sampleOffset` in the "data" chunk.
RiffChunk CueAt(uint32_t sampleOffset) {
  std::vector<uint8_t> data;
  Append(&data, Le32Bytes(1));             // dwCuePoints
  Append(&data, Le32Bytes(1));             // dwName
  Append(&data, Le32Bytes(sampleOffset));  // dwPosition
  Append(&data, "data");                   // fccChunk
  Append(&data, Le32Bytes(0));             // dwChunkStart
  Append(&data, Le32Bytes(0));             // dwBlockStart
  Append(&data, Le32Bytes(sampleOffset));  // dwSampleOffset
  return {"cue ", data};
}

// Bytes that chunks take in a RIFF file: headers, data and pad bytes.
uint64_t ChunksSize(const std::vector<RiffChunk>& chunks) {
  uint64_t size = 0;
  for (const RiffChunk& chunk : chunks) {
    size += 8 + chunk.data.size() + chunk.data.size() % 2;
  }
  return size;
}

std::vector<ExampleEntry> ExampleEntries() {
  ExampleEntry theme{"theme.wav", 2, 44100, 128, 16, 44100 * 3, 1, {}, {}, {}};
  // About 1.5 s, an even count: 8-bit output with an odd decoded length is
  // cut 2 bytes short, and the output is meant to match the original exactly.
  ExampleEntry door{"sfx\\door.wav", 1, 22050, 64, 8, 33074, 2, {}, {}, {}};
  ExampleEntry voice{"voice\\line01.wav", 1, 32000, 48, 16, 32000 * 2, 3, {}, {}, {}};
  voice.dropped.push_back({"fact", Le32Bytes(static_cast<uint32_t>(voice.frames))});
  voice.kept.push_back(InfoList("Line 01"));
  voice.tail.push_back(CueAt(static_cast<uint32_t>(voice.frames / 2)));
  return {theme, door, voice};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s <output.pak>\n", argv[0]);
    return 1;
  }

  std::vector<PakEntrySource> sources;
  uint64_t totalUnpackedSize = 0;
  for (const ExampleEntry& entry : ExampleEntries()) {
    const std::vector<int16_t> samples =
        SynthesizeMusic(entry.channels, entry.rate, entry.frames, entry.seed);
    const Mp3Stream mp3 = EncodeMp3(samples, entry.channels, entry.rate, entry.bitrateKbps);
    if (mp3.bytes.empty()) {
      std::fprintf(stderr, "%s: MP3 encoding failed for %s\n", argv[0], entry.path.c_str());
      return 1;
    }

    const uint16_t channels = static_cast<uint16_t>(entry.channels);
    const uint32_t rate = static_cast<uint32_t>(entry.rate);
    const FormatBlock target = MakePcmFormat(channels, rate, entry.targetBits);
    const uint32_t decodedLength =
        static_cast<uint32_t>(entry.frames) * ReadWaveFormat(target.data()).nBlockAlign;

    PayloadParts parts;
    parts.sourceFormat = MakeMpegLayer3Format(channels, rate, entry.bitrateKbps * 1000u,
                                              mp3.maxFrameSize, kLameCodecDelay);
    parts.dropped = entry.dropped;
    parts.decodedLength = decodedLength;
    parts.kept = entry.kept;
    parts.mp3 = mp3.bytes;
    parts.tail = entry.tail;
    sources.push_back({entry.path, target, BuildEntryPayload(parts)});

    // The output: RIFF header, a 16-byte PCM "fmt ", the kept chunks, the
    // padded "data" chunk and the tail chunks.
    totalUnpackedSize += 12 + 8 + 16 + ChunksSize(entry.kept) + 8 + decodedLength +
                         decodedLength % 2 + ChunksSize(entry.tail);
  }

  const std::vector<uint8_t> pak = BuildPak(sources, static_cast<uint32_t>(totalUnpackedSize));
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(pak.data()), static_cast<std::streamsize>(pak.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
