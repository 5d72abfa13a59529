// Writes the fuzzers' seed inputs: short valid archives and payloads, and
// malformed ones that each break one rule of the format.
// Usage: make_fuzz_seeds <corpus folder>  (writes archive/, payload/ and wave/ in it)

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/pak_format.h"
#include "archive/pak_writer.h"
#include "fuzz/fuzz_payload_input.h"
#include "platform/byte_order.h"
#include "tests/support/encoded_clip.h"
#include "tools/synth.h"

namespace unpak {

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

struct Clip {
  int channels = 0;
  int rate = 0;
  Bytes payload;
};

bool Save(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// A payload of a few frames of audio at a low bitrate; the "skee" value keeps
// `frames` sample frames of 16-bit output.
Clip MakeClip(int channels, int rate, int bitrateKbps, int frames, uint32_t seed) {
  const EncodedClip clip = MakeEncodedClip(channels, rate, frames, seed, bitrateKbps);
  PayloadParts parts;
  parts.sourceFormat = ClipSourceFormat(clip);
  parts.decodedLength = static_cast<uint32_t>(frames * channels * 2);
  parts.mp3 = clip.mp3;
  return {channels, rate, BuildEntryPayload(parts)};
}

Bytes Garbage(size_t size, uint32_t state) {
  Bytes garbage(size);
  for (uint8_t& byte : garbage) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  return garbage;
}

Bytes WithSelector(uint8_t selector, const Bytes& payload) {
  Bytes input{selector};
  input.insert(input.end(), payload.begin(), payload.end());
  return input;
}

Bytes DerivedInput(const Clip& clip, int channels, int bits) {
  return WithSelector(FuzzSelector(channels, bits, FuzzRateIndex(static_cast<uint32_t>(clip.rate))),
                      clip.payload);
}

Bytes RawTargetInput(const FormatBlock& target, const Bytes& payload) {
  Bytes input{kFuzzRawTarget};
  Bytes field(kTargetFormatSize);
  std::copy_n(target.begin(), std::min(target.size(), field.size()), field.begin());
  input.insert(input.end(), field.begin(), field.end());
  input.insert(input.end(), payload.begin(), payload.end());
  return input;
}

FormatBlock EncodedTarget(uint16_t tag, uint16_t blockAlign, uint16_t bits, uint32_t avgBytes,
                          uint16_t samplesPerBlock, bool withExtra) {
  WaveFormat format;
  format.wFormatTag = tag;
  format.nChannels = 1;
  format.nSamplesPerSec = 8000;
  format.nAvgBytesPerSec = avgBytes;
  format.nBlockAlign = blockAlign;
  format.wBitsPerSample = bits;
  format.cbSize = withExtra ? 2 : 0;
  FormatBlock block = MakeFormatBlock(format);
  if (withExtra) {
    block.resize(kWaveFormatSize + 2);
    StoreLe16(block.data() + kWaveFormatSize, samplesPerBlock);
  }
  return block;
}

// Offset of chunk `id` inside a RIFF payload (its header), or 0.
size_t ChunkAt(const Bytes& payload, const char* id) {
  for (size_t at = 12; at + 8 <= payload.size();) {
    if (std::string(payload.begin() + at, payload.begin() + at + 4) == id) return at;
    at += 8 + LoadLe32(&payload[at + 4]) + (LoadLe32(&payload[at + 4]) & 1);
  }
  return 0;
}

Bytes WithLe32(Bytes bytes, size_t at, uint32_t value) {
  StoreLe32(bytes.data() + at, value);
  return bytes;
}

// The payload with the contents of its "data" chunk replaced by `audio`.
Bytes WithAudio(const Clip& clip, const Bytes& audio) {
  const Bytes& p = clip.payload;
  const size_t data = ChunkAt(p, "data");
  Bytes out(p.begin(), p.begin() + static_cast<long>(data) + 4);
  Bytes size(4);
  StoreLe32(size.data(), static_cast<uint32_t>(audio.size()));
  out.insert(out.end(), size.begin(), size.end());
  out.insert(out.end(), audio.begin(), audio.end());
  if (audio.size() % 2) out.push_back(0);
  StoreLe32(out.data() + 4, static_cast<uint32_t>(out.size() - 8));
  return out;
}

void AddPayloadSeeds(const fs::path& dir, const Clip& mono8k, const Clip& stereo22k,
                     const Clip& stereo44k, bool* ok) {
  auto save = [&](const char* name, const Bytes& bytes) { *ok &= Save(dir / name, bytes); };
  save("mono16_8000", DerivedInput(mono8k, 1, 16));
  save("mono8_8000", DerivedInput(mono8k, 1, 8));
  save("stereo16_from_mono", DerivedInput(mono8k, 2, 16));
  save("stereo16_22050", DerivedInput(stereo22k, 2, 16));
  save("stereo8_22050", DerivedInput(stereo22k, 2, 8));
  save("mono16_from_stereo", DerivedInput(stereo22k, 1, 16));
  save("stereo16_44100_mpeg1", DerivedInput(stereo44k, 2, 16));
  save("resample_to_16000",
       WithSelector(FuzzSelector(1, 16, FuzzRateIndex(16000)), mono8k.payload));
  save("raw_pcm_target", RawTargetInput(MakePcmFormat(1, 8000, 16), mono8k.payload));
  save("raw_mulaw_target", RawTargetInput(EncodedTarget(7, 1, 8, 8000, 0, false), mono8k.payload));
  save("raw_ima_adpcm_target",
       RawTargetInput(EncodedTarget(0x11, 256, 4, 4055, 505, true), mono8k.payload));
  save("raw_gsm610_target",
       RawTargetInput(EncodedTarget(0x31, 65, 0, 1625, 320, true), mono8k.payload));

  const Bytes& p = mono8k.payload;
  const uint8_t mono16 = FuzzSelector(1, 16, FuzzRateIndex(8000));
  const size_t fmt = ChunkAt(p, "fmt ");
  const size_t skee = ChunkAt(p, "skee");
  const size_t data = ChunkAt(p, "data");
  save("bad_zero_length", Bytes{mono16});
  save("bad_riff_size_huge", WithSelector(mono16, WithLe32(p, 4, 0xFFFFFFF0u)));
  save("bad_riff_size_short", WithSelector(mono16, WithLe32(p, 4, 40)));
  save("bad_data_size_huge", WithSelector(mono16, WithLe32(p, data + 4, 0x7FFFFFFFu)));
  save("bad_skee_size_huge", WithSelector(mono16, WithLe32(p, skee + 4, 0xFFFFFFFFu)));
  save("bad_fmt_size_huge", WithSelector(mono16, WithLe32(p, fmt + 4, 0xFFFFFFF8u)));
  // "fmt " says 18 bytes but its cbSize claims 12 more.
  save("bad_fmt_shorter_than_cbsize", WithSelector(mono16, WithLe32(p, fmt + 4, 18)));
  save("bad_data_empty", WithSelector(mono16, WithAudio(mono8k, {})));
  save("bad_mp3_garbage", WithSelector(mono16, WithAudio(mono8k, Garbage(600, 12345))));
  Bytes truncated(p.begin(), p.begin() + static_cast<long>(data) + 20);
  save("bad_truncated_in_audio", WithSelector(mono16, truncated));
  Bytes noSkee = p;
  std::copy_n("junk", 4, noSkee.begin() + static_cast<long>(skee));
  save("bad_no_skee", WithSelector(mono16, noSkee));

  // Inputs that reach the rebuild's rarer paths.
  const FormatBlock mulaw = EncodedTarget(7, 1, 8, 8000, 0, false);
  save("cov_mulaw_no_skee", RawTargetInput(mulaw, noSkee));
  save("cov_mulaw_source_rate_7000", RawTargetInput(mulaw, WithLe32(p, fmt + 12, 7000)));
  save("cov_skee_shorter_than_4", WithSelector(mono16, WithLe32(p, skee + 4, 2)));
  // 16 kHz frames after the 8 kHz ones, with a cap that lets them be reached.
  Bytes changing(p.begin() + static_cast<long>(data) + 8,
                 p.begin() + static_cast<long>(data) + 8 + LoadLe32(&p[data + 4]));
  const EncodedClip faster = MakeEncodedClip(1, 16000, 1200, 4, 8);
  changing.insert(changing.end(), faster.mp3.begin(), faster.mp3.end());
  save("cov_rate_change",
       WithSelector(mono16, WithLe32(WithAudio(mono8k, changing), skee + 8, 1 << 20)));
}

PakEntrySource Entry(const std::string& path, const Clip& clip) {
  return {path,
          MakePcmFormat(static_cast<uint16_t>(clip.channels), static_cast<uint32_t>(clip.rate), 16),
          clip.payload};
}

void AddArchiveSeeds(const fs::path& dir, const Clip& mono8k, const Clip& stereo22k, bool* ok) {
  auto save = [&](const char* name, const Bytes& bytes) { *ok &= Save(dir / name, bytes); };
  const Bytes one = BuildPak({Entry("a.wav", mono8k)}, 4096);
  save("one_entry.pak", one);
  save("two_entries_in_folders.pak",
       BuildPak({Entry("music\\a.wav", mono8k), Entry("music\\sfx\\b.wav", stereo22k)}, 65536));
  save("empty.pak", BuildPak({}, 0));
  PakEntrySource mulaw{
      "m.wav", {7, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0}, mono8k.payload};
  save("mulaw_target.pak", BuildPak({mulaw}, 4096));

  // Header fields at 4 (entryCount), 8 (entryTableOffset) and 12
  // (nameTableOffset); the first record's at 16 (dataOffset), 20
  // (nameOffset), 24 (dataSize) and 28 (targetFormat, cbSize at 44).
  save("bad_entry_count_4g.pak", WithLe32(one, 4, 0xFFFFFFFFu));
  save("bad_entry_table_near_4g.pak", WithLe32(one, 8, 0xFFFFFFF0u));
  save("bad_name_table_near_4g.pak", WithLe32(one, 12, 0xFFFFFFFFu));
  save("bad_name_offset_near_4g.pak", WithLe32(one, 20, 0xFFFFFFFEu));
  save("bad_data_offset_near_4g.pak", WithLe32(one, 16, 0xFFFFFFF0u));
  save("bad_data_size_past_end.pak", WithLe32(one, 24, static_cast<uint32_t>(one.size())));
  save("bad_data_size_zero.pak", WithLe32(one, 24, 0));
  Bytes cbSize = one;
  StoreLe16(cbSize.data() + 44, 5);
  save("bad_target_cbsize.pak", cbSize);
  Bytes unterminated = BuildPak({Entry("a.wav", mono8k)}, 0);
  unterminated.resize(16 + 34 + 5);  // the name without its NUL, at the very end
  save("bad_name_unterminated.pak", unterminated);
  save("bad_header_truncated.pak", Bytes(one.begin(), one.begin() + 10));
  save("bad_path_climbs_out.pak", BuildPak({Entry("..\\escape.wav", mono8k)}, 0));
  save("bad_path_absolute.pak", BuildPak({Entry("\\abs.wav", mono8k)}, 0));

  // A folder name too long to create; a stream that turns free format, which
  // pak test reports.
  save("cov_folder_name_too_long.pak",
       BuildPak({Entry(std::string(300, 'a') + "\\b.wav", mono8k)}, 0));
  Bytes freeFormat = mono8k.payload;
  freeFormat[ChunkAt(freeFormat, "data") + 10] &= 0x0F;  // the first frame's bitrate index
  save("cov_free_format.pak", BuildPak({{"free.wav", MakePcmFormat(1, 8000, 16), freeFormat}}, 0));
}

// A "fmt " chunk's contents: the 18-byte header with `extra` after it.
Bytes WaveFormatBytes(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t blockAlign,
                      uint16_t bits, const Bytes& extra = {}) {
  WaveFormat format{tag,
                    channels,
                    rate,
                    rate * blockAlign,
                    blockAlign,
                    bits,
                    static_cast<uint16_t>(extra.size())};
  Bytes block = MakeFormatBlock(format);
  std::copy(extra.begin(), extra.end(), block.begin() + kWaveFormatSize);
  return block;
}

Bytes Pcm16(int channels, int rate, int frames) {
  Bytes data;
  for (int16_t sample : SynthesizeMusic(channels, rate, frames, 4)) {
    data.push_back(static_cast<uint8_t>(sample));
    data.push_back(static_cast<uint8_t>(sample >> 8));
  }
  return data;
}

Bytes Wave(const Bytes& format, const Bytes& data, const std::vector<RiffChunk>& before = {},
           const std::vector<RiffChunk>& after = {}) {
  std::vector<RiffChunk> chunks{{"fmt ", format}};
  chunks.insert(chunks.end(), before.begin(), before.end());
  chunks.push_back({"data", data});
  chunks.insert(chunks.end(), after.begin(), after.end());
  return BuildRiffWave(chunks);
}

// IMA ADPCM blocks of random nibbles behind valid block headers.
Bytes ImaBlocks(int blocks, uint16_t blockAlign) {
  Bytes data = Garbage(size_t(blocks) * blockAlign, 7);
  for (int b = 0; b < blocks; ++b) {
    data[size_t(b) * blockAlign + 2] %= 89;  // the step index
    data[size_t(b) * blockAlign + 3] = 0;
  }
  return data;
}

// WAV files as `pak create` reads them: one per format, and malformed ones
// that each break one rule.
void AddWaveSeeds(const fs::path& dir, bool* ok) {
  auto save = [&](const char* name, const Bytes& bytes) { *ok &= Save(dir / name, bytes); };
  const RiffChunk list{"LIST", {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 2, 0, 0, 0, 'a', 0}};
  const RiffChunk cue{"cue ", Bytes(28, 0)};
  Bytes pcm16 = WaveFormatBytes(1, 1, 8000, 2, 16);
  pcm16.resize(16);
  save("pcm16_mono_8000_chunks", Wave(pcm16, Pcm16(1, 8000, 800), {list}, {cue}));
  save("pcm8_stereo_11025", Wave(WaveFormatBytes(1, 2, 11025, 2, 8), Garbage(1000, 1)));
  const Bytes pcmGuid{1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  Bytes extensible{24, 0, 3, 0, 0, 0};
  extensible.insert(extensible.end(), pcmGuid.begin(), pcmGuid.end());
  save("pcm24_extensible_stereo_48000",
       Wave(WaveFormatBytes(0xFFFE, 2, 48000, 6, 24, extensible), Garbage(6 * 700, 2)));
  Bytes floats;
  for (size_t i = 0; i < 600; ++i) {
    const float value = float(i % 50) / 50.f - 0.5f;
    uint8_t bytes[4];
    std::memcpy(bytes, &value, 4);
    floats.insert(floats.end(), bytes, bytes + 4);
  }
  save("float_mono_22050", Wave(WaveFormatBytes(3, 1, 22050, 4, 32), floats));
  save("mulaw_stereo_8000", Wave(WaveFormatBytes(7, 2, 8000, 2, 8), Garbage(1600, 3)));
  save("alaw_mono_16000", Wave(WaveFormatBytes(6, 1, 16000, 1, 8), Garbage(900, 4)));
  save("ima_adpcm_mono_8000",
       Wave(WaveFormatBytes(0x11, 1, 8000, 256, 4, {0xF9, 0x01}), ImaBlocks(3, 256)));
  save("gsm610_mono_8000",
       Wave(WaveFormatBytes(0x31, 1, 8000, 65, 0, {0x40, 0x01}), Garbage(65 * 4, 5)));

  const Bytes plain = Wave(pcm16, Pcm16(1, 8000, 400), {list}, {cue});
  const size_t data = ChunkAt(plain, "data");
  save("bad_three_channels", Wave(WaveFormatBytes(1, 3, 8000, 6, 16), Garbage(600, 6)));
  save("bad_ms_adpcm", Wave(WaveFormatBytes(2, 1, 8000, 256, 4, Bytes(32, 1)), Garbage(512, 7)));
  save("bad_rate_4000", Wave(WaveFormatBytes(1, 1, 4000, 2, 16), Pcm16(1, 4000, 400)));
  Bytes unknownSubFormat = extensible;
  unknownSubFormat[6] = 2;
  save("bad_extensible_subformat",
       Wave(WaveFormatBytes(0xFFFE, 2, 48000, 6, 24, unknownSubFormat), Garbage(600, 8)));
  Bytes cbSizePastChunk = WaveFormatBytes(7, 1, 8000, 1, 8);
  StoreLe16(cbSizePastChunk.data() + 16, 4);
  save("bad_cbsize_past_chunk", Wave(cbSizePastChunk, Garbage(300, 9)));
  save("bad_data_size_huge", WithLe32(plain, data + 4, 0x7FFFFFF0u));
  save("bad_list_past_end", WithLe32(plain, ChunkAt(plain, "LIST") + 4, 0x10000));
  save("bad_riff_size_short", WithLe32(plain, 4, 20));
  save("bad_not_riff", WithLe32(plain, 0, 0x58464952u));  // "RIFX"

  // Inputs that reach the rarer refusals of `pak create`.
  const Bytes audio = Pcm16(1, 8000, 400);
  save("cov_two_data_chunks", Wave(pcm16, audio, {}, {{"data", audio}}));
  save("cov_two_fmt_chunks", Wave(pcm16, audio, {{"fmt ", pcm16}}));
  Bytes listCut = plain;
  listCut.insert(listCut.end(), {'L', 'I', 'S', 'T', 4, 0, 0, 0});  // no room for its type
  save("cov_list_type_cut", WithLe32(listCut, 4, static_cast<uint32_t>(listCut.size() - 8)));
  save("cov_extensible_short", Wave(WaveFormatBytes(0xFFFE, 2, 48000, 6, 24, Bytes(6)), audio));
  save("cov_fmt_8_bytes", Wave(Bytes(pcm16.begin(), pcm16.begin() + 8), audio));
  const Bytes mulaw = WaveFormatBytes(7, 1, 8000, 1, 8);
  save("cov_mulaw_fmt_16_bytes", Wave(Bytes(mulaw.begin(), mulaw.begin() + 16), Garbage(800, 10)));
  // 101 mu-law samples at 37800 Hz: no count of 32000 Hz frames resamples to them.
  save("cov_mulaw_37800_odd_length", Wave(WaveFormatBytes(7, 1, 37800, 1, 8), Garbage(101, 11)));
  save("cov_unknown_tag", Wave(WaveFormatBytes(0x1234, 1, 8000, 2, 16), audio));
}

}  // namespace

}  // namespace unpak

int main(int argc, char** argv) {
  using namespace unpak;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
    return 2;
  }
  const fs::path root = argv[1];
  std::error_code error;
  fs::create_directories(root / "archive", error);
  fs::create_directories(root / "payload", error);
  fs::create_directories(root / "wave", error);
  const Clip mono8k = MakeClip(1, 8000, 8, 1200, 1);
  const Clip stereo22k = MakeClip(2, 22050, 24, 1500, 2);
  const Clip stereo44k = MakeClip(2, 44100, 32, 1200, 3);
  bool ok = !error;
  AddPayloadSeeds(root / "payload", mono8k, stereo22k, stereo44k, &ok);
  AddArchiveSeeds(root / "archive", mono8k, stereo22k, &ok);
  AddWaveSeeds(root / "wave", &ok);
  if (!ok) {
    std::fprintf(stderr, "cannot write the seeds under %s\n", root.c_str());
    return 1;
  }
  return 0;
}
