// `pak create` through the programs: WAV files made by sox and ffmpeg go into
// an archive and come back out of unpak as the same files.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "archive/pak_reader.h"
#include "platform/byte_order.h"
#include "platform/wave_format.h"
#include "tests/support/audio_reference.h"
#include "tests/support/file_io.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_bytes.h"

namespace unpak {

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

struct Chunk {
  std::string id;
  Bytes data;
  size_t offset = 0;  // of the data in the file
};

std::vector<Chunk> Chunks(const Bytes& file) {
  std::vector<Chunk> chunks;
  for (size_t at = 12; at + 8 <= file.size();) {
    const size_t size = std::min<size_t>(LoadLe32(&file[at + 4]), file.size() - at - 8);
    chunks.push_back({std::string(file.begin() + at, file.begin() + at + 4),
                      Bytes(file.begin() + at + 8, file.begin() + at + 8 + size), at + 8});
    at += 8 + size + size % 2;
  }
  return chunks;
}

const Chunk& Find(const std::vector<Chunk>& chunks, const std::string& id) {
  static const Chunk none;
  const auto found = std::ranges::find(chunks, id, &Chunk::id);
  return found == chunks.end() ? none : *found;
}

// The file with `front` put before its first chunk, `before` before "data"
// and `after` behind it.
Bytes WithChunks(const Bytes& file, const Bytes& front, const Bytes& before, const Bytes& after) {
  const size_t data = Find(Chunks(file), "data").offset - 8;
  Bytes out(file.begin(), file.begin() + 12);
  AppendBytes(&out, front);
  out.insert(out.end(), file.begin() + 12, file.begin() + long(data));
  AppendBytes(&out, before);
  out.insert(out.end(), file.begin() + long(data), file.end());
  AppendBytes(&out, after);
  StoreLe32(&out[4], uint32_t(out.size() - 8));
  return out;
}

// The file's audio as sox decodes it, interleaved, full scale 1.
std::vector<float> SoxAudio(const fs::path& file) {
  const ProgramResult sox = RunTool({"sox", "-D", file, "-t", "f32", "-"}, file.parent_path());
  std::vector<float> samples(sox.out.size() / 4);
  std::memcpy(samples.data(), sox.out.data(), samples.size() * 4);
  return samples;
}

// The lag, in sample frames from -8 to 8, at which `actual` correlates best
// with `reference`.
int BestLag(const std::vector<float>& reference, const std::vector<float>& actual, int channels) {
  int best = 0;
  double bestProduct = -1e300;
  for (int lag = -8; lag <= 8; ++lag) {
    double product = 0;
    for (long i = 8 * channels; i + 8 * channels < long(reference.size()); ++i) {
      const long j = i + lag * channels;
      if (j < long(actual.size())) product += double{reference[i]} * actual[j];
    }
    if (product > bestProduct) std::tie(best, bestProduct) = std::tie(lag, product);
  }
  return best;
}

// The block unpak must write for an input "fmt ": a PCM header without
// cbSize; for WAVE_FORMAT_EXTENSIBLE the plain block of its subformat.
Bytes ExpectedFormat(const Bytes& format) {
  uint16_t tag = LoadLe16(format.data());
  if (tag == kWaveFormatExtensible) tag = LoadLe16(&format[24]);
  Bytes plain(format.begin(), format.begin() + 16);
  StoreLe16(plain.data(), tag);
  if (tag == 1) return plain;
  if (LoadLe16(format.data()) == kWaveFormatExtensible) return AppendBytes(&plain, {0, 0}), plain;
  return Bytes(format.begin(), format.begin() + 18 + LoadLe16(&format[16]));
}

// The MP3 streams and codec delays of the archive's entries, by path.
std::map<std::string, std::pair<Bytes, uint16_t>> Mp3Streams(const Bytes& pak) {
  std::map<std::string, std::pair<Bytes, uint16_t>> streams;
  PakHeader header;
  std::string reason;
  if (!ReadPakHeader(pak.data(), pak.size(), &header, &reason)) return streams;
  for (uint32_t i = 0; i < header.entryCount; ++i) {
    const PakEntry entry = ReadPakEntry(pak.data(), header, i);
    EntryView view;
    if (!ResolvePakEntry(pak.data(), pak.size(), header, entry, &view, &reason)) continue;
    const std::vector<Chunk> chunks = Chunks(Bytes(view.payload, view.payload + view.payloadSize));
    streams[view.path] = {Find(chunks, "data").data, LoadLe16(&Find(chunks, "fmt ").data[28])};
  }
  return streams;
}

struct Source {
  const char* path;
  int channels, rate;
  std::vector<std::string> encode;  // sox or ffmpeg, and the options that set the format
  bool chunks;                      // "JUNK" before "fmt ", "LIST" before "data", "cue " after
  double minSnr;                    // of unpak's output against the input, in dB
};

TEST(Create, WavFilesFromOtherToolsComeBackFromUnpak) {
  const std::vector<Source> sources = {
      {"u8.wav", 1, 22050, {"sox", "-b", "8", "-e", "unsigned"}, false, 24},
      {"s16.wav", 2, 44100, {"ffmpeg", "-c:a", "pcm_s16le"}, true, 42},
      {"music/s24.wav", 2, 48000, {"ffmpeg", "-c:a", "pcm_s24le"}, false, 51},
      {"music/f32.wav", 1, 32000, {"sox", "-e", "floating-point", "-b", "32"}, true, 57},
      {"music/deep/f32x.wav", 2, 24000, {"ffmpeg", "-c:a", "pcm_f32le"}, false, 42},
      {"sfx/ulaw.wav", 2, 8000, {"sox", "-e", "u-law"}, false, 24},
      {"sfx/alaw.wav", 1, 16000, {"ffmpeg", "-c:a", "pcm_alaw"}, true, 26},
      {"sfx/ima.wav", 1, 11025, {"sox", "-e", "ima-adpcm"}, false, 23},
      {"sfx/ima2.wav", 2, 22050, {"ffmpeg", "-c:a", "adpcm_ima_wav"}, true, 22},
      {"voice/gsm.WAV", 1, 8000, {"ffmpeg", "-c:a", "libgsm_ms"}, false, 13},
      {"voice/s16.wav", 1, 12000, {"sox", "-b", "16"}, true, 50},
      {"hires.wav", 1, 96000, {"ffmpeg", "-c:a", "pcm_s16le"}, false, 57},
  };
  TempDir dir;
  const fs::path in = dir.path / "in";
  for (const Source& source : sources) {
    const fs::path path = in / source.path;
    fs::create_directories(path.parent_path());
    // A chord with a sweep, each channel its own, 0.6 s in 32-bit float.
    const std::string tone = "0.3*sin(2*PI*220*t)+0.2*sin(2*PI*(300+900*t)*t)+0.1*sin(2*PI*1250*t)";
    const std::string master = (dir.path / "master.wav").string();
    ASSERT_EQ(RunTool({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                       "aevalsrc=" + tone + (source.channels == 2 ? "|0.8*(" + tone + ")" : "") +
                           ":s=" + std::to_string(source.rate) + ":d=0.6",
                       "-c:a", "pcm_f32le", master},
                      dir.path)
                  .exitStatus,
              0);
    std::vector<std::string> command{source.encode[0]};
    if (command[0] == "sox") command.insert(command.end(), {"-D", master});
    if (command[0] == "ffmpeg") command.insert(command.end(), {"-v", "error", "-i", master});
    command.insert(command.end(), source.encode.begin() + 1, source.encode.end());
    command.push_back(path.string());
    ASSERT_EQ(RunTool(command, dir.path).exitStatus, 0) << source.path;
    if (source.chunks) {
      Bytes list = Text("INFOINAM");
      AppendBytes(&list, Le32(6));
      AppendBytes(&list, Text(std::string("Title", 6)));
      Bytes cue = Le32(1);
      AppendBytes(&cue, Bytes(20));
      ASSERT_TRUE(WriteBytes(path, WithChunks(ReadBytes(path), ChunkBytes("JUNK", Bytes(3, 7)),
                                              ChunkBytes("LIST", list), ChunkBytes("cue ", cue))));
    }
  }
  // Encoded in turn or on four workers, the same archive, byte for byte, and
  // the same transcript.
  const ProgramResult created = RunPak({"create", "-j", "1", "a.pak", "-C", "in", "."}, dir.path);
  ASSERT_EQ(created.exitStatus, 0) << created.err;
  EXPECT_EQ(RunPak({"create", "-j", "4", "b.pak", "-C", "in", "."}, dir.path), created);
  EXPECT_EQ(ReadBytes(dir.path / "a.pak"), ReadBytes(dir.path / "b.pak"));
  // So under a process limit that lets no worker thread start, or one. (A
  // leak check at exit, in a sanitizer build, needs a thread of its own.)
  fs::permissions(dir.path, fs::perms::all);  // for the limited user
  const bool nobodyCanRun = NobodyCanRun(UNPAK_PAK_BINARY);
  if (!nobodyCanRun) std::cout << "skipped, as user nobody cannot run " UNPAK_PAK_BINARY "\n";
  for (const char* limit : {"--nproc=1", "--nproc=2"}) {
    if (!nobodyCanRun) break;
    const ProgramResult limited = RunTool(
        {"sh", "-c",
         "export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0; exec setpriv "
         "--reuid=65534 --regid=65534 --clear-groups prlimit \"$1\" \"$0\" create -j 4 c.pak "
         "-C in .",
         UNPAK_PAK_BINARY, limit},
        dir.path);
    EXPECT_EQ(limited, created) << limit;
    EXPECT_EQ(ReadBytes(dir.path / "c.pak"), ReadBytes(dir.path / "a.pak")) << limit;
  }
  EXPECT_EQ(RunPak({"list", "a.pak"}, dir.path).exitStatus, 0);
  EXPECT_EQ(RunPak({"test", "a.pak"}, dir.path).exitStatus, 0);
  fs::create_directory(dir.path / "out");
  ASSERT_EQ(RunUnpak((dir.path / "a.pak").string(), dir.path / "out").exitStatus, 0);

  const auto streams = Mp3Streams(ReadBytes(dir.path / "a.pak"));
  for (const Source& source : sources) {
    SCOPED_TRACE(source.path);
    const Bytes input = ReadBytes(in / source.path);
    const Bytes output = ReadBytes(dir.path / "out" / source.path);
    const std::vector<Chunk> inputChunks = Chunks(input), outputChunks = Chunks(output);
    const Chunk& inputData = Find(inputChunks, "data");
    const Chunk& outputData = Find(outputChunks, "data");
    EXPECT_EQ(Find(outputChunks, "fmt ").data, ExpectedFormat(Find(inputChunks, "fmt ").data));
    EXPECT_EQ(outputData.data.size(), inputData.data.size());
    // The other chunks, in order, after "fmt ".
    const auto others = [](std::vector<Chunk> chunks) {
      std::erase_if(chunks, [](const Chunk& c) { return c.id == "fmt " || c.id == "data"; });
      std::vector<std::pair<std::string, Bytes>> kept;
      for (const Chunk& chunk : chunks) kept.push_back({chunk.id, chunk.data});
      return kept;
    };
    EXPECT_EQ(others(outputChunks), others(inputChunks));
    EXPECT_EQ(outputChunks.front().id, "fmt ");
    // Where "fmt " comes first at unpak's size, every byte around the audio is the input's.
    if (inputChunks.front().id == "fmt " &&
        inputChunks.front().data == Find(outputChunks, "fmt ").data) {
      Bytes inputAround = input, outputAround = output;
      std::fill_n(inputAround.begin() + long(inputData.offset), inputData.data.size(), 0);
      std::fill_n(outputAround.begin() + long(outputData.offset), outputData.data.size(), 0);
      EXPECT_EQ(outputAround, inputAround);
    }

    const std::vector<float> original = SoxAudio(in / source.path);
    const std::vector<float> unpacked = SoxAudio(dir.path / "out" / source.path);
    EXPECT_EQ(unpacked.size(), original.size());
    EXPECT_EQ(BestLag(original, unpacked, source.channels), 0);
    const double snr = SnrDb(original, unpacked);
    EXPECT_GE(snr, source.minSnr);
    // The MP3 stream alone, decoded by the mpg123 program, delay cut.
    std::string name = source.path;
    std::replace(name.begin(), name.end(), '/', '\\');
    const auto& [mp3, delay] = streams.at(name);
    ASSERT_TRUE(WriteBytes(dir.path / "x.mp3", mp3));
    const std::string decoded =
        RunTool({"mpg123", "-q", "--no-gapless", "-e", "s16", "-s", "x.mp3"}, dir.path).out;
    std::vector<float> mpg123(decoded.size() / 2);
    for (size_t i = 0; i < mpg123.size(); ++i) {
      mpg123[i] =
          float(int16_t(LoadLe16(reinterpret_cast<const uint8_t*>(&decoded[2 * i])))) / 32768.f;
    }
    const size_t lag = size_t{delay} * source.channels;
    const double mp3Snr = source.rate <= 48000 ? SnrDb(original, mpg123, lag) : NAN;
    std::printf("%-20s SNR %5.1f dB (the MP3 stream alone %5.1f dB), codec delay %u\n", source.path,
                snr, mp3Snr, delay);
    if (source.rate > 48000) continue;  // the stream is at another rate than the input
    EXPECT_GE(mp3Snr, source.minSnr);
    // Where unpak writes 16-bit PCM at the stream's rate, it writes mpg123's samples.
    if (LoadLe16(&Find(inputChunks, "fmt ").data[14]) == 16) {
      const Bytes& pcm = outputData.data;
      EXPECT_EQ(std::string(decoded.begin() + long(2 * lag),
                            decoded.begin() + long(2 * lag + pcm.size())),
                std::string(pcm.begin(), pcm.end()));
    }
  }
}

TEST(Create, InputsThatCannotBeStoredLeaveNoArchive) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.path / "a.pak", Text("old")));
  const std::vector<std::string> tone{"synth", "0.1", "sine", "300"};
  const struct {
    std::vector<std::string> make;  // an input, named by the command's last argument
    std::vector<std::string> args;  // of pak create; by default a.pak and that input
    std::string problem;            // after "pak: "
    int status;
  } cases[] = {
      {{"sox", "-n", "-r", "8000", "-e", "floating-point", "-b", "64", "f64.wav"},
       {},
       "f64.wav: unpak could not write it back: IEEE float target: wBitsPerSample 64 should be 32",
       1},
      {{"sox", "-n", "-r", "8000", "-t", "aiff", "aiff.wav"}, {}, "aiff.wav: not a WAV file", 1},
      {{"mkdir", "empty"}, {}, "empty: holds no .wav files", 1},
      {{"mkfifo", "fifo.wav"}, {}, "fifo.wav: not a regular file", 1},
      {{"sox", "-n", "-r", "44100", "s.wav"}, {"-b", "8", "a.pak", "s.wav"}, "s.wav: 8 kbps", 1},
      {{"cp", "s.wav", "a\\b.wav"}, {}, "a\\b.wav: a backslash in its name would read as a", 1},
      {{"cp", "s.wav", "empty/s.wav"},
       {"a.pak", "s.wav", "-C", "empty", "./s.wav"},
       "empty/./s.wav: another input is stored as s.wav too",
       1},
      {{}, {"a.pak", "missing.wav"}, "missing.wav: No such file or directory", 1},
      {{"cp", "s.wav",
        "x\xc2\x9b"
        "2Jy.wav"},
       {},
       "x\\xc2\\x9b2Jy.wav: control character in the path",
       1},
      {{"python3", "-c",
        "import struct,sys; b=bytearray(open('s.wav','rb').read()) + b'\\x1b[2J\\xff\\0\\0\\0';"
        "b[4:8]=struct.pack('<I',len(b)-8); open(sys.argv[1],'wb').write(b)",
        "esc.wav"},
       {},
       "esc.wav: its \"\\x1b[2J\" chunk runs past the end of the file",
       1},
      {{}, {"s.wav", "s.wav"}, "s.wav: it is the archive to be written", 1},
      {{}, {"empty", "s.wav"}, "empty: is a folder", 2},
      {{}, {"no/a.pak", "s.wav"}, "no/a.pak: cannot create the output file in no", 2},
  };
  for (const auto& c : cases) {
    std::vector<std::string> make = c.make, args = c.args;
    if (!make.empty()) {
      if (make[0] == "sox") make.insert(make.end(), tone.begin(), tone.end());
      ASSERT_EQ(RunTool(make, dir.path).exitStatus, 0) << c.problem;
    }
    if (args.empty()) args = {"a.pak", c.make.back()};
    args.insert(args.begin(), "create");
    const std::vector<std::string> before = ListTree(dir.path);
    const ProgramResult result = RunPak(args, dir.path);
    EXPECT_EQ(result.exitStatus, c.status);
    EXPECT_NE(result.err.find("pak: " + c.problem), std::string::npos) << result.err;
    EXPECT_EQ(ListTree(dir.path), before);
    EXPECT_EQ(ReadBytes(dir.path / "a.pak"), Text("old"));
  }
  // Every input that cannot be stored is named, not just the first.
  const ProgramResult both = RunPak({"create", "a.pak", "fifo.wav", "aiff.wav"}, dir.path);
  EXPECT_NE(both.err.find("pak: aiff.wav: not a WAV file"), std::string::npos) << both.err;
}

TEST(Create, NamesAreStoredAsTheyAreAndShownEscaped) {
  TempDir dir;
  const struct {
    std::string name;
    std::string shown;
  } names[] = {{"caf\xc3\xa9.wav", "caf\xc3\xa9.wav"},  // UTF-8
               {"caf\xe9.wav", "caf\\xe9.wav"},         // a legacy code page's
               {"x\x9b"
                "2J.wav",
                "x\\x9b2J.wav"}};
  for (const auto& name : names) {
    ASSERT_EQ(
        RunTool({"sox", "-n", "-r", "8000", "-b", "16", name.name, "synth", "0.1", "sine", "300"},
                dir.path)
            .exitStatus,
        0);
    const ProgramResult created = RunPak({"create", "a.pak", name.name}, dir.path);
    EXPECT_EQ(created.out.substr(0, created.out.find('\n') + 1),
              "Compressing " + name.shown + " : #\n");
    EXPECT_NE(RunPak({"list", "a.pak"}, dir.path).out.find("  " + name.shown + "\n"),
              std::string::npos);
    fs::create_directory(dir.path / "out");
    EXPECT_EQ(RunUnpak("../a.pak", dir.path / "out").out.find("Decompressing " + name.shown), 0u);
    EXPECT_TRUE(fs::exists(dir.path / "out" / name.name));
    fs::remove_all(dir.path / "out");
  }
}

TEST(Create, AnInterruptedRunLeavesNoArchiveAndNoTemporaryFile) {
  TempDir dir;
  // Two long inputs, so that the run is still encoding when the signal comes.
  for (const char* name : {"a.wav", "b.wav"}) {
    ASSERT_EQ(RunTool({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", name, "synth", "20",
                       "sine", "300-2000"},
                      dir.path)
                  .exitStatus,
              0);
  }
  ASSERT_TRUE(WriteBytes(dir.path / "a.pak", Text("old")));
  const auto interrupt = [&](pid_t pid) {  // once the first payload is written
    for (int tries = 0;
         tries < 20000 && !WritingAnOutput(pid, dir.path, {"a.wav", "b.wav", "a.pak"}); ++tries)
      usleep(500);
    kill(pid, SIGINT);
  };
  EXPECT_EQ(RunProgram(UNPAK_PAK_BINARY, {"pak", "create", "a.pak", "a.wav", "b.wav"}, dir.path,
                       interrupt)
                .exitStatus,
            128 + SIGINT);
  EXPECT_EQ(ListTree(dir.path), (std::vector<std::string>{"a.pak", "a.wav", "b.wav"}));
  EXPECT_EQ(ReadBytes(dir.path / "a.pak"), Text("old"));
}

// The entry paths of `pak list`'s table, in order.
std::vector<std::string> ListedPaths(const std::string& table) {
  std::vector<std::string> paths;
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(" Hz ") != std::string::npos) paths.push_back(line.substr(line.rfind(' ') + 1));
  }
  return paths;
}

TEST(Create, EntriesAreNamedByThePathsAsGiven) {
  TempDir dir;
  for (const char* name : {"src/game/music/theme.wav", "src/game/voice/en/line01.wav",
                           "mod/voice/en/LINE01.wav", "mod/voice/en/new.wav"}) {
    fs::create_directories((dir.path / name).parent_path());
    ASSERT_EQ(RunTool({"sox", "-n", "-r", "8000", name, "synth", "0.1", "sine", "300"}, dir.path)
                  .exitStatus,
              0);
  }
  const struct {
    std::vector<std::string> args;   // of pak create, after the archive
    std::vector<std::string> paths;  // the entries, or none where refused with `problem`
    std::string problem;
  } cases[] = {
      {{"src/game/music", "src/game/voice/en/line01.wav"},
       {"src\\game\\music\\theme.wav", "src\\game\\voice\\en\\line01.wav"},
       ""},
      {{"-C", "src/game", "."}, {"music\\theme.wav", "voice\\en\\line01.wav"}, ""},
      {{"-C", "src", "./game//music/", "-C", "game", "voice"},
       {"game\\music\\theme.wav", "voice\\en\\line01.wav"},
       ""},
      {{(dir.path / "src").string()}, {}, "an absolute path cannot name an entry"},
      {{"src/game/../game"}, {}, "src/game/../game: path climbs out of the folder with \"..\""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"create", "a.pak"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProgramResult result = RunPak(args, dir.path);
    EXPECT_EQ(result.exitStatus, c.problem.empty() ? 0 : 1) << args[2];
    EXPECT_NE(result.err.find(c.problem), std::string::npos) << result.err;
    EXPECT_EQ(ListedPaths(RunPak({"list", "a.pak"}, dir.path).out), c.paths) << args[2];
    fs::remove(dir.path / "a.pak");
  }
  // An input replaces the entry of its path, which keeps its letter case.
  const ProgramResult created = RunPak({"create", "a.pak", "-C", "src/game", "."}, dir.path);
  ASSERT_EQ(created.exitStatus, 0);
  EXPECT_NE(created.out.find("\n2 entries, 0:00.200 of audio, "), std::string::npos) << created.out;
  const ProgramResult updated =
      RunPak({"update", "a.pak", "-C", "mod", "voice/en/LINE01.wav", "voice/en/new.wav"}, dir.path);
  EXPECT_NE(updated.out.find("1 replaced, 1 added, 1 kept"), std::string::npos) << updated.out;
  EXPECT_EQ(ListedPaths(RunPak({"list", "a.pak"}, dir.path).out),
            (std::vector<std::string>{"music\\theme.wav", "voice\\en\\line01.wav",
                                      "voice\\en\\new.wav"}));
}

TEST(Update, OnlyTheNamedEntriesChange) {
  TempDir dir;
  const std::vector<std::vector<std::string>> sources = {
      {"in/a.wav", "-r", "22050", "-c", "1", "-b", "16"},
      {"in/b.wav", "-r", "44100", "-c", "2", "-b", "16"},
      {"in/sfx/c.wav", "-r", "11025", "-c", "1", "-b", "8"},
      {"in/sfx/d.wav", "-r", "16000", "-c", "2", "-e", "ima-adpcm"},
      {"in/e.wav", "-r", "32000", "-c", "1", "-b", "24"},
      {"in/f.wav", "-r", "8000", "-c", "1", "-e", "u-law"},
      {"new/B.WAV", "-r", "48000", "-c", "1", "-b", "16"},  // replaces b.wav
      {"new/extra.wav", "-r", "24000", "-c", "2", "-b", "16"},
      {"new/three.wav", "-r", "8000", "-c", "3", "-b", "16"},
      {"new/a.wav", "-r", "22050", "-c", "2", "-b", "16"},  // mixed down for mono a.wav
      {"three/a.wav", "-r", "22050", "-c", "3", "-b", "16"},
  };
  for (const auto& source : sources) {
    fs::create_directories((dir.path / source[0]).parent_path());
    std::vector<std::string> command{"sox", "-n"};
    command.insert(command.end(), source.begin() + 1, source.end());
    command.insert(command.end(), {source[0], "synth", "0.45", "sine", "300-2000", "vol", "0.5"});
    ASSERT_EQ(RunTool(command, dir.path).exitStatus, 0) << source[0];
  }
  ASSERT_EQ(RunPak({"create", "a.pak", "-C", "in", "."}, dir.path).exitStatus, 0);
  const Bytes old = ReadBytes(dir.path / "a.pak");

  // a.wav's MP3 format is no MPEG bit rate, so its stream cannot be made
  // again; b.wav's target has no codec; the last payload is cut short.
  Bytes odd = old;
  ++odd[std::search(odd.begin(), odd.end(), "fmt ", "fmt " + 4) - odd.begin() + 16];
  odd[kPakHeaderSize + kPakEntrySize + 12] = 0x34;
  ASSERT_TRUE(WriteBytes(dir.path / "odd.pak", odd));
  ASSERT_TRUE(WriteBytes(dir.path / "cut.pak", Bytes(old.begin(), old.end() - 100)));

  // An input that cannot be fitted, or an archive that cannot be read, leaves it as it was.
  const std::vector<std::string> refusals[] = {
      {"a.pak", "-C", "new", "B.WAV", "three.wav", "1", "new/three.wav: it has 3 channels"},
      {"a.pak", "-C", "three", "a.wav", "1", "three/a.wav: it has 3 channels; an entry holds 1"},
      {"odd.pak", "-C", "new", "a.wav", "1", "new/a.wav: the entry's MP3 format (22050 Hz, 64008"},
      {"odd.pak", "-C", "new", "B.WAV", "1", "new/B.WAV: the entry it replaces cannot be read: no"},
      {"cut.pak", "new/a.wav", "2", "cut.pak: entry 5: payload"},
      {"in/a.wav", "new/a.wav", "2", "in/a.wav: "}};
  for (const auto& refusal : refusals) {
    std::vector<std::string> args{"update"};
    args.insert(args.end(), refusal.begin(), refusal.end() - 2);
    const Bytes archive = ReadBytes(dir.path / refusal[0]);
    const ProgramResult refused = RunPak(args, dir.path);
    EXPECT_EQ(refused.exitStatus, std::stoi(refusal.end()[-2]));
    EXPECT_NE(refused.err.find("pak: " + refusal.back()), std::string::npos) << refused.err;
    EXPECT_EQ(ReadBytes(dir.path / refusal[0]), archive);
    EXPECT_EQ(ListTree(dir.path).front(), "a.pak");  // no temporary file
  }
  // On a full disk (a tmpfs of one page) a new archive and an update fail; the
  // file they would replace stays, and no temporary file.
  if (const std::string unshare = MountNamespaceOption(); !unshare.empty()) {
    fs::create_directory(dir.path / "full");
    const ProgramResult full =
        RunTool({"unshare", unshare, "sh", "-c",
                 "mount -t tmpfs -o size=4k tmpfs full && cd full && echo old > a.pak || exit 99\n"
                 "\"$0\" create a.pak -C ../new B.WAV; echo $?; \"$0\" update -o a.pak ../a.pak "
                 "-C ../new B.WAV; echo $?; ls -A; cat a.pak",
                 UNPAK_PAK_BINARY},
                dir.path);
    EXPECT_EQ(full.out, "Compressing B.WAV : #\n2\nCompressing b.wav : #\n2\na.pak\nold\n");
    EXPECT_EQ(full.err,
              "pak: a.pak: writing the archive failed (disk full or I/O error)\n"
              "pak: a.pak: writing the archive failed (disk full or I/O error)\n");
  }

  const ProgramResult updated = RunPak(
      {"update", "-o", "b.pak", "a.pak", "-C", "new", "B.WAV", "extra.wav", "a.wav"}, dir.path);
  ASSERT_EQ(updated.exitStatus, 0) << updated.err;
  EXPECT_NE(updated.out.find("Compressing b.wav : "), std::string::npos) << updated.out;
  EXPECT_NE(updated.out.find("2 replaced, 1 added, 4 kept"), std::string::npos) << updated.out;
  EXPECT_EQ(ReadBytes(dir.path / "a.pak"), old);
  std::vector<std::string> paths = ListedPaths(RunPak({"list", "a.pak"}, dir.path).out);
  paths.push_back("extra.wav");
  EXPECT_EQ(ListedPaths(RunPak({"list", "b.pak"}, dir.path).out), paths);

  for (const char* archive : {"a", "b"}) {
    fs::create_directory(dir.path / archive);
    ASSERT_EQ(RunUnpak((dir.path / (std::string(archive) + ".pak")).string(), dir.path / archive)
                  .exitStatus,
              0);
  }
  // The header's total is the size of every output.
  uintmax_t total = 0;
  for (const auto& file : fs::recursive_directory_iterator(dir.path / "b"))
    total += file.is_regular_file() ? file.file_size() : 0;
  EXPECT_EQ(LoadLe32(ReadBytes(dir.path / "b.pak").data()), total);
  for (const char* kept : {"sfx/c.wav", "sfx/d.wav", "e.wav", "f.wav"})
    EXPECT_EQ(ReadBytes(dir.path / "b" / kept), ReadBytes(dir.path / "a" / kept)) << kept;
  // The replaced entry: its old format, the new audio at its rate and channels.
  const std::vector<Chunk> before = Chunks(ReadBytes(dir.path / "a/b.wav"));
  const std::vector<Chunk> after = Chunks(ReadBytes(dir.path / "b/b.wav"));
  EXPECT_EQ(Find(after, "fmt ").data, Find(before, "fmt ").data);
  const ProgramResult fitted =
      RunTool({"sox", "-D", "new/B.WAV", "-t", "f32", "-r", "44100", "-c", "2", "-"}, dir.path);
  std::vector<float> reference(fitted.out.size() / 4);
  std::memcpy(reference.data(), fitted.out.data(), reference.size() * 4);
  const std::vector<float> replaced = SoxAudio(dir.path / "b/b.wav");
  EXPECT_EQ(replaced.size(), reference.size());
  EXPECT_EQ(BestLag(reference, replaced, 2), 0);
  EXPECT_GE(SnrDb(reference, replaced), 20);
  // The added entry comes back as pak create's do.
  const std::vector<Chunk> input = Chunks(ReadBytes(dir.path / "new/extra.wav"));
  const std::vector<Chunk> added = Chunks(ReadBytes(dir.path / "b/extra.wav"));
  EXPECT_EQ(Find(added, "fmt ").data, ExpectedFormat(Find(input, "fmt ").data));
  EXPECT_EQ(Find(added, "data").data.size(), Find(input, "data").data.size());
  EXPECT_EQ(BestLag(SoxAudio(dir.path / "new/extra.wav"), SoxAudio(dir.path / "b/extra.wav"), 2),
            0);
  // In place and encoded in turn, the same archive.
  ASSERT_EQ(
      RunPak({"update", "-j", "1", "a.pak", "-C", "new", "B.WAV", "extra.wav", "a.wav"}, dir.path)
          .exitStatus,
      0);
  EXPECT_EQ(ReadBytes(dir.path / "a.pak"), ReadBytes(dir.path / "b.pak"));
}

// A "smpl" chunk with one loop from `start` to `end`.
Bytes Loop(uint32_t start, uint32_t end) {
  Bytes smpl(36);
  StoreLe32(&smpl[28], 1);
  for (const uint32_t field : {0u, 0u, start, end, 0u, 0u}) AppendBytes(&smpl, Le32(field));
  return ChunkBytes("smpl", smpl);
}

TEST(Update, ChunksThatStateLengthsOrPositionsTellTheTruth) {
  TempDir dir;
  for (const auto& make : std::vector<std::vector<std::string>>{
           {"in/fx.wav", "-r", "22050", "-e", "ima-adpcm", "1.5"},  // with "fact"
           {"in/boss.wav", "-r", "22050", "-b", "16", "1"},
           {"new/fx.wav", "-r", "22050", "-b", "16", "0.9"},
           {"new/boss.wav", "-r", "16000", "-b", "16", "0.6"}}) {
    fs::create_directories((dir.path / make[0]).parent_path());
    ASSERT_EQ(RunTool({"sox", "-n", "-c", "1", make[1], make[2], make[3], make[4], make[0], "synth",
                       make[5], "sine", "440"},
                      dir.path)
                  .exitStatus,
              0);
  }
  for (const auto& [file, loop] :
       {std::pair{"in/boss.wav", Loop(1000, 21000)}, std::pair{"new/boss.wav", Loop(10, 100)}}) {
    ASSERT_TRUE(WriteBytes(dir.path / file, WithChunks(ReadBytes(dir.path / file), {}, loop, {})));
  }
  ASSERT_EQ(RunPak({"create", "a.pak", "-C", "in", "."}, dir.path).exitStatus, 0);
  const auto unpacked = [&](const std::string& archive, const std::string& file) {
    fs::create_directory(dir.path / archive);
    EXPECT_EQ(RunUnpak("../" + archive + ".pak", dir.path / archive).exitStatus, 0);
    return Chunks(ReadBytes(dir.path / archive / file));
  };

  const ProgramResult kept =
      RunPak({"update", "-o", "b.pak", "a.pak", "-C", "new", "boss.wav", "fx.wav"}, dir.path);
  EXPECT_EQ(kept.exitStatus, 0);
  EXPECT_NE(kept.out.find("boss.wav: 16000 Hz mono resampled to 22050 Hz"), std::string::npos);
  EXPECT_NE(kept.err.find("pak: boss.wav: warning: \"smpl\" loop 0 ends at sample frame 21000, "
                          "past the new end at 13230"),
            std::string::npos)
      << kept.err;
  EXPECT_EQ(LoadLe32(Find(unpacked("b", "fx.wav"), "fact").data.data()), 19845u);  // 0.9 s
  EXPECT_EQ(Find(unpacked("b", "boss.wav"), "smpl").data,
            Find(Chunks(ReadBytes(dir.path / "in/boss.wav")), "smpl").data);

  const ProgramResult taken = RunPak(
      {"update", "-o", "c.pak", "--chunks=input", "a.pak", "-C", "new", "boss.wav"}, dir.path);
  EXPECT_EQ(taken.exitStatus, 0);
  EXPECT_EQ(taken.err, "");
  EXPECT_EQ(Find(unpacked("c", "boss.wav"), "smpl").data,
            Find(Chunks(ReadBytes(dir.path / "new/boss.wav")), "smpl").data);
}

TEST(Update, NamesThatDifferOnlyInCaseNameOneEntry) {
  TempDir dir;
  for (const char* name : {"a.wav", "A.wav", "a.WAV", "b.wav"}) {
    ASSERT_EQ(RunTool({"sox", "-n", "-r", "8000", "-b", "16", name, "synth", "0.1", "sine", "300"},
                      dir.path)
                  .exitStatus,
              0);
  }
  ASSERT_EQ(RunPak({"create", "one.pak", "a.wav"}, dir.path).exitStatus, 0);
  // An archive that holds both A.wav and a.wav, as other tools may make.
  ASSERT_EQ(RunPak({"create", "two.pak", "a.wav", "b.wav"}, dir.path).exitStatus, 0);
  Bytes two = ReadBytes(dir.path / "two.pak");
  *std::search(two.begin(), two.end(), "b.wav", "b.wav" + 5) = 'A';
  ASSERT_TRUE(WriteBytes(dir.path / "two.pak", two));
  const struct {
    std::vector<std::string> args;
    int status;
    std::string said;  // in the output, or after "pak: " in the errors
  } cases[] = {
      {{"update", "one.pak", "a.wav", "A.wav"},
       1,
       "A.wav: stored as A.wav, it differs only in case from a.wav, stored as a.wav"},
      {{"create", "new.pak", "a.wav", "A.wav"}, 1, "A.wav: stored as A.wav, it differs"},
      {{"update", "two.pak", "a.WAV"},
       1,
       "a.WAV: its name matches several entries ignoring case (a.wav, A.wav)"},
      {{"update", "-o", "x.pak", "two.pak", "a.wav"}, 0, "1 replaced, 0 added, 1 kept"},
      {{"update", "-o", "y.pak", "one.pak", "A.wav"}, 0, "1 replaced, 0 added, 0 kept"},
  };
  for (const auto& c : cases) {
    const ProgramResult result = RunPak(c.args, dir.path);
    EXPECT_EQ(result.exitStatus, c.status) << result.err;
    const std::string& said = c.status == 0 ? result.out : result.err;
    EXPECT_NE(said.find(c.status == 0 ? c.said : "pak: " + c.said), std::string::npos) << said;
  }
  EXPECT_FALSE(fs::exists(dir.path / "new.pak"));
  // The entry of exactly the input's name is replaced, the other kept.
  const auto payloads = Mp3Streams(ReadBytes(dir.path / "x.pak"));
  EXPECT_EQ(payloads.at("A.wav"), Mp3Streams(two).at("A.wav"));
  EXPECT_EQ(ListedPaths(RunPak({"list", "y.pak"}, dir.path).out),
            std::vector<std::string>{"a.wav"});
}

}  // namespace

}  // namespace unpak
