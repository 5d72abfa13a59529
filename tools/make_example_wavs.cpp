// Writes the WAV files that the bundled example archive is made from: three
// short synthesized pieces, one of them carrying extra chunks.
// Usage: make_example_wavs <folder>   (then: pak create example.pak -C <folder> .)

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/pak_writer.h"
#include "platform/byte_order.h"
#include "tools/synth.h"

namespace unpak {

namespace fs = std::filesystem;

namespace {

struct ExampleFile {
  std::string path;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t bits = 0;
  int frames = 0;
  uint32_t seed = 0;
  std::vector<RiffChunk> before;  // chunks between "fmt " and "data"
  std::vector<RiffChunk> after;   // chunks after "data"
};

std::vector<uint8_t> Le32Bytes(uint32_t value) {
  std::vector<uint8_t> bytes(4);
  StoreLe32(bytes.data(), value);
  return bytes;
}

void Append(std::vector<uint8_t>* out, const std::vector<uint8_t>& bytes) {
  out->insert(out->end(), bytes.begin(), bytes.end());
}

void Append(std::vector<uint8_t>* out, const std::string& text) {
  out->insert(out->end(), text.begin(), text.end());
}

// A "LIST" chunk of type "INFO" with one "INAM" (title) item.
RiffChunk InfoList(const std::string& title) {
  std::vector<uint8_t> name(title.begin(), title.end());
  name.push_back('\0');
  if (name.size() % 2 != 0) name.push_back('\0');
  std::vector<uint8_t> data;
  Append(&data, "INFOINAM");
  Append(&data, Le32Bytes(static_cast<uint32_t>(name.size())));
  Append(&data, name);
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

// The synthesized samples as PCM of 8 (unsigned) or 16 bits.
std::vector<uint8_t> PcmData(const ExampleFile& file) {
  std::vector<uint8_t> data;
  for (int16_t sample :
       SynthesizeMusic(file.channels, static_cast<int>(file.rate), file.frames, file.seed)) {
    if (file.bits == 8) {
      data.push_back(static_cast<uint8_t>((sample >> 8) + 128));
    } else {
      data.push_back(static_cast<uint8_t>(sample));
      data.push_back(static_cast<uint8_t>(sample >> 8));
    }
  }
  return data;
}

std::vector<uint8_t> WaveFile(const ExampleFile& file) {
  FormatBlock format = MakePcmFormat(file.channels, file.rate, file.bits);
  format.resize(16);  // a PCM "fmt " chunk without cbSize
  std::vector<RiffChunk> chunks{{"fmt ", format}};
  chunks.insert(chunks.end(), file.before.begin(), file.before.end());
  chunks.push_back({"data", PcmData(file)});
  chunks.insert(chunks.end(), file.after.begin(), file.after.end());
  return BuildRiffWave(chunks);
}

std::vector<ExampleFile> ExampleFiles() {
  ExampleFile theme{"theme.wav", 2, 44100, 16, 44100 * 3, 1, {}, {}};
  ExampleFile door{"sfx/door.wav", 1, 22050, 8, 33075, 2, {}, {}};
  ExampleFile voice{"voice/line01.wav", 1, 32000, 16, 32000 * 2, 3, {}, {}};
  voice.before.push_back(InfoList("Line 01"));
  voice.after.push_back(CueAt(static_cast<uint32_t>(voice.frames / 2)));
  return {theme, door, voice};
}

}  // namespace

}  // namespace unpak

int main(int argc, char** argv) {
  using namespace unpak;
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s <folder>\n", argv[0]);
    return 1;
  }
  for (const ExampleFile& file : ExampleFiles()) {
    const fs::path path = fs::path(argv[1]) / file.path;
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    const std::vector<uint8_t> bytes = WaveFile(file);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
      return 1;
    }
  }
  return 0;
}
