// pak_from_mp3 OUT.pak FILE.mp3...
//
// Wraps MP3 files as archive entries that unpack to 16-bit PCM WAV files of
// the same channels and rate, named after each MP3 file.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "archive/pak_writer.h"
#include "tools/mp3_encoder.h"
#include "convert/mpeg_frame_header.h"

namespace {

constexpr size_t kId3HeaderSize = 10;
constexpr size_t kWavHeaderSize = 44;  // "RIFF" form, 16-byte "fmt ", "data" header
constexpr uint16_t kPcmBits = 16;

struct Mp3Summary {
  MpegFrameHeader first;
  size_t start = 0;  // offset of the first frame
  size_t end = 0;    // offset after the last whole frame
  uint64_t frames = 0;
  size_t largestFrame = 0;
};

// Size of a leading ID3v2 tag, footer included; 0 when there is none.
size_t Id3v2Size(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < kId3HeaderSize || bytes[0] != 'I' || bytes[1] != 'D' || bytes[2] != '3') {
    return 0;
  }
  const size_t body = (size_t{bytes[6]} & 0x7F) << 21 | (size_t{bytes[7]} & 0x7F) << 14 |
                      (size_t{bytes[8]} & 0x7F) << 7 | (size_t{bytes[9]} & 0x7F);
  const bool hasFooter = (bytes[5] & 0x10) != 0;
  return kId3HeaderSize + body + (hasFooter ? kId3HeaderSize : 0);
}

// A Xing or Info frame carries stream metadata in place of audio; a plain
// decoder would turn it into a frame of silence ahead of the encoder delay.
bool IsInfoFrame(const uint8_t* frame, const MpegFrameHeader& header) {
  const size_t sideInfoSize =
      header.mpeg1 ? (header.channels == 1 ? 17 : 32) : (header.channels == 1 ? 9 : 17);
  const size_t tag = kMpegFrameHeaderSize + sideInfoSize;
  if (tag + 4 > header.length) return false;
  const std::string id(reinterpret_cast<const char*>(frame + tag), 4);
  return id == "Xing" || id == "Info";
}

// Offset of the first audio frame: after a leading ID3v2 tag and Info frame.
size_t FirstAudioFrame(const std::vector<uint8_t>& bytes) {
  const size_t pos = Id3v2Size(bytes);
  if (pos + kMpegFrameHeaderSize > bytes.size()) return pos;
  const std::optional<MpegFrameHeader> header = ParseMpegFrameHeader(&bytes[pos]);
  if (header && pos + header->length <= bytes.size() && IsInfoFrame(&bytes[pos], *header)) {
    return pos + header->length;
  }
  return pos;
}

// Walks the frames from the first audio frame on, up to the first byte that is
// not a whole frame of the same stream (a trailing tag, garbage or a cut frame).
std::optional<Mp3Summary> ScanFrames(const std::vector<uint8_t>& bytes, std::string* error) {
  Mp3Summary summary;
  summary.start = FirstAudioFrame(bytes);
  size_t pos = summary.start;
  while (pos + kMpegFrameHeaderSize <= bytes.size()) {
    const std::optional<MpegFrameHeader> header = ParseMpegFrameHeader(&bytes[pos]);
    if (!header || pos + header->length > bytes.size()) break;
    if (summary.frames == 0) {
      summary.first = *header;
    } else if (header->mpeg1 != summary.first.mpeg1 || header->rate != summary.first.rate ||
               header->channels != summary.first.channels) {
      *error = "sample rate or channel count changes mid-stream";
      return std::nullopt;
    }
    summary.frames++;
    summary.largestFrame = std::max(summary.largestFrame, header->length);
    pos += header->length;
  }
  if (summary.frames == 0) {
    *error = "no MPEG Layer-3 frame at the start of the audio";
    return std::nullopt;
  }
  summary.end = pos;
  return summary;
}

std::optional<std::vector<uint8_t>> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
}

// One entry for the MP3 file at `path`; adds the unpacked file's size to
// `unpackedSize`. Prints the reason and returns nothing on bad input.
std::optional<PakEntrySource> MakeEntry(const std::string& path, uint64_t* unpackedSize) {
  const std::optional<std::vector<uint8_t>> bytes = ReadFile(path);
  if (!bytes) {
    std::fprintf(stderr, "pak_from_mp3: cannot read %s\n", path.c_str());
    return std::nullopt;
  }
  std::string error;
  const std::optional<Mp3Summary> mp3 = ScanFrames(*bytes, &error);
  if (!mp3) {
    std::fprintf(stderr, "pak_from_mp3: %s: %s\n", path.c_str(), error.c_str());
    return std::nullopt;
  }

  const MpegFrameHeader& first = mp3->first;
  const uint64_t samplesPerFrame = first.mpeg1 ? 1152 : 576;
  const uint64_t samples = mp3->frames * samplesPerFrame;
  const uint64_t keptSamples = samples > kLameCodecDelay ? samples - kLameCodecDelay : 0;
  const uint64_t decodedLength = keptSamples * first.channels * (kPcmBits / 8);
  if (decodedLength > UINT32_MAX - kWavHeaderSize) {
    std::fprintf(stderr, "pak_from_mp3: %s: too long for one entry\n", path.c_str());
    return std::nullopt;
  }

  PayloadParts parts;
  parts.sourceFormat =
      MakeMpegLayer3Format(first.channels, first.rate, first.bitrate,
                           static_cast<uint16_t>(mp3->largestFrame), kLameCodecDelay);
  parts.decodedLength = static_cast<uint32_t>(decodedLength);
  parts.mp3.assign(bytes->begin() + static_cast<ptrdiff_t>(mp3->start),
                   bytes->begin() + static_cast<ptrdiff_t>(mp3->end));

  PakEntrySource entry;
  entry.path = std::filesystem::path(path).stem().string() + ".wav";
  entry.targetFormat = MakePcmFormat(first.channels, first.rate, kPcmBits);
  entry.payload = BuildEntryPayload(parts);
  *unpackedSize += kWavHeaderSize + decodedLength;
  return entry;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: pak_from_mp3 OUT.pak FILE.mp3...\n");
    return 1;
  }
  std::vector<PakEntrySource> entries;
  uint64_t unpackedSize = 0;
  for (int i = 2; i < argc; ++i) {
    std::optional<PakEntrySource> entry = MakeEntry(argv[i], &unpackedSize);
    if (!entry) return 1;
    entries.push_back(std::move(*entry));
  }
  if (unpackedSize > UINT32_MAX) {
    std::fprintf(stderr, "pak_from_mp3: the unpacked files would exceed 4 GiB\n");
    return 1;
  }
  const std::vector<uint8_t> pak = BuildPak(entries, static_cast<uint32_t>(unpackedSize));
  if (pak.size() > UINT32_MAX) {
    std::fprintf(stderr, "pak_from_mp3: the archive would exceed 4 GiB\n");
    return 1;
  }
  if (!WriteFile(argv[1], pak)) {
    std::fprintf(stderr, "pak_from_mp3: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
