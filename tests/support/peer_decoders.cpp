#include "tests/support/peer_decoders.h"

#include <cstdlib>
#include <sstream>

#include "tests/support/run_program.h"

namespace {

std::vector<int16_t> SamplesOf(const std::string& raw) {
  std::vector<int16_t> samples(raw.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(static_cast<uint8_t>(raw[2 * i]) |
                                      (static_cast<uint8_t>(raw[2 * i + 1]) << 8));
  }
  return samples;
}

std::optional<std::vector<int16_t>> Decode(const std::string& tool,
                                           const std::vector<std::string>& args) {
  const std::optional<std::filesystem::path> path = FindOnPath(tool);
  if (!path) return std::nullopt;
  std::vector<std::string> argv{tool};
  argv.insert(argv.end(), args.begin(), args.end());
  const ProgramResult result = RunProgram(*path, argv, std::filesystem::current_path());
  if (result.exitStatus != 0) return std::nullopt;
  return SamplesOf(result.out);
}

// The text after "<label>:" on the line that starts with `label`.
std::string Field(const std::string& report, const std::string& label) {
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(label, 0) != 0) continue;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const size_t start = line.find_first_not_of(' ', colon + 1);
    return start == std::string::npos ? "" : line.substr(start);
  }
  return "";
}

}  // namespace

std::optional<std::filesystem::path> FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::filesystem::path candidate = std::filesystem::path(folder) / name;
    std::error_code ignored;
    if (std::filesystem::is_regular_file(candidate, ignored)) return candidate;
  }
  return std::nullopt;
}

std::optional<SoxFileInfo> SoxInfo(const std::filesystem::path& file) {
  const std::optional<std::filesystem::path> sox = FindOnPath("sox");
  if (!sox) return std::nullopt;
  const ProgramResult result =
      RunProgram(*sox, {"sox", "--i", file.string()}, std::filesystem::current_path());
  if (result.exitStatus != 0) return std::nullopt;
  SoxFileInfo info;
  info.channels = std::atoi(Field(result.out, "Channels").c_str());
  info.rate = std::atoi(Field(result.out, "Sample Rate").c_str());
  info.precision = std::atoi(Field(result.out, "Precision").c_str());
  info.encoding = Field(result.out, "Sample Encoding");
  const std::string duration = Field(result.out, "Duration");
  const size_t equals = duration.find('=');
  if (equals != std::string::npos) info.frames = std::atoll(duration.c_str() + equals + 1);
  return info;
}

std::optional<std::vector<int16_t>> SoxDecode(const std::filesystem::path& file) {
  return Decode("sox", {"-D", file.string(), "-t", "raw", "-e", "signed", "-b", "16", "-"});
}

std::optional<std::vector<int16_t>> FfmpegDecode(const std::filesystem::path& file) {
  return Decode("ffmpeg", {"-v", "error", "-nostdin", "-i", file.string(), "-f", "s16le", "-"});
}
