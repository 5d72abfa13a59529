#pragma once

// Independent decoders of WAV files: the sox and ffmpeg programs.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The program's path when it is found on PATH.
std::optional<std::filesystem::path> FindOnPath(const std::string& name);

// What `sox --i` reports about a file.
struct SoxFileInfo {
  int channels = 0;
  int rate = 0;
  long long frames = -1;  // the "= N samples" of its duration line
  std::string encoding;   // e.g. "4-bit IMA ADPCM", "8-bit u-law", "GSM"
  int precision = 0;      // bits, from its "Precision" line
};
// Null when sox refuses the file.
std::optional<SoxFileInfo> SoxInfo(const std::filesystem::path& file);

// The file's audio as interleaved 16-bit samples, decoded by sox (no
// dither) or by ffmpeg; null when the decoder refuses the file.
std::optional<std::vector<int16_t>> SoxDecode(const std::filesystem::path& file);
std::optional<std::vector<int16_t>> FfmpegDecode(const std::filesystem::path& file);
