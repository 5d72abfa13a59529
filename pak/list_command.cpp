#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>

#include "archive/pak_file.h"
#include "pak/commands.h"
#include "platform/console.h"
#include "platform/mapped_file.h"
#include "run/entry_inspection.h"

namespace unpak {

namespace {

// One entry as listed.
struct ListedEntry {
  uint32_t index = 0;
  std::optional<std::string> path;
  uint32_t payloadSize = 0;
  WaveFormat target;
  std::optional<EntryFacts> facts;  // when the entry can be unpacked
  std::string problem;              // why not
};

ListedEntry ListEntry(const OpenedArchive& archive, uint32_t index) {
  ListedEntry listed;
  listed.index = index;
  PakEntry entry;
  EntryView view;
  EntryFacts facts;
  std::string reason;
  const bool ok = InspectArchiveEntry(archive, index, &entry, &view, &facts, &reason);
  listed.payloadSize = entry.dataSize;
  listed.target = ReadWaveFormat(entry.targetFormat);
  if (view.path != nullptr) listed.path = view.path;
  if (ok) {
    facts.targetBlock = {};  // points into `entry`, gone after this call
    listed.facts = std::move(facts);
  } else {
    listed.problem = reason;
  }
  return listed;
}

// The targets that the codec module encodes, which are mono or stereo.
std::string FormatWords(const WaveFormat& format) {
  const std::string layout = std::string(format.nChannels == 1 ? "mono " : "stereo ") +
                             std::to_string(format.nSamplesPerSec) + " Hz";
  switch (format.wFormatTag) {
    case kWaveFormatPcm:
      return "PCM " + std::to_string(format.wBitsPerSample) + "-bit " + layout;
    case kWaveFormatIeeeFloat:
      return "IEEE float " + std::to_string(format.wBitsPerSample) + "-bit " + layout;
    case kWaveFormatAlaw:
      return "G.711 A-law " + layout;
    case kWaveFormatMulaw:
      return "G.711 mu-law " + layout;
    case kWaveFormatImaAdpcm:
      return "IMA ADPCM " + layout;
  }
  return "GSM 6.10 " + layout;
}

uint64_t ComputedTotal(const std::vector<ListedEntry>& entries) {
  uint64_t total = 0;
  for (const ListedEntry& entry : entries) {
    if (entry.facts) total += entry.facts->outputSize;
  }
  return total;
}

void PrintText(const std::vector<ListedEntry>& entries, const PakHeader& header) {
  std::vector<std::string> described;
  size_t width = 6;
  for (const ListedEntry& entry : entries) {
    described.push_back(entry.facts ? FormatWords(entry.target)
                                    : "! " + DisplayName(entry.problem));
    width = std::max(width, described.back().size());
  }
  const int w = static_cast<int>(width);
  std::printf("%6s  %-*s  %11s  %10s  %10s  %s\n", "Index", w, "Format", "Duration", "Payload",
              "Output", "Path");
  uint64_t payloads = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const ListedEntry& entry = entries[i];
    payloads += entry.payloadSize;
    const std::string duration = entry.facts ? Duration(EntryDurationSeconds(*entry.facts)) : "";
    const std::string output = entry.facts ? std::to_string(entry.facts->outputSize) : "";
    std::printf("%6u  %-*s  %11s  %10u  %10s  %s\n", entry.index, w, described[i].c_str(),
                duration.c_str(), entry.payloadSize, output.c_str(),
                entry.path ? DisplayName(*entry.path).c_str() : "?");
  }
  std::printf("%6s  %-*s  %11s  %10llu  %10llu  %zu entries (the header states %u bytes)\n", "", w,
              "", "", static_cast<unsigned long long>(payloads),
              static_cast<unsigned long long>(ComputedTotal(entries)), entries.size(),
              header.totalUnpackedSize);
}

nlohmann::json EntryJson(const ListedEntry& entry) {
  nlohmann::json json;
  json["index"] = entry.index;
  json["path"] = entry.path ? nlohmann::json(*entry.path) : nlohmann::json(nullptr);
  json["target"] = {{"tag", entry.target.wFormatTag},
                    {"channels", entry.target.nChannels},
                    {"rate", entry.target.nSamplesPerSec},
                    {"bits", entry.target.wBitsPerSample},
                    {"blockAlign", entry.target.nBlockAlign}};
  json["payloadSize"] = entry.payloadSize;
  json["source"] = nullptr;
  json["decodedLength"] = nullptr;
  json["durationSeconds"] = nullptr;
  json["outputSize"] = nullptr;
  json["problem"] = entry.facts ? nlohmann::json(nullptr) : nlohmann::json(entry.problem);
  if (!entry.facts) return json;
  const EntryFacts& facts = *entry.facts;
  json["source"] = {{"channels", facts.source.nChannels},
                    {"rate", facts.source.nSamplesPerSec},
                    {"bitrate", uint64_t{facts.source.nAvgBytesPerSec} * 8},
                    {"codecDelay", facts.mpeg.nCodecDelay}};
  if (facts.layout.hasDecodedLength) json["decodedLength"] = facts.layout.decodedLength;
  json["durationSeconds"] = EntryDurationSeconds(facts);
  json["outputSize"] = facts.outputSize;
  return json;
}

void PrintJson(const std::vector<ListedEntry>& entries, const PakHeader& header,
               const std::string& archive) {
  nlohmann::json document;
  document["archive"] = archive;
  document["totalUnpackedSize"] = header.totalUnpackedSize;
  document["entryCount"] = header.entryCount;
  document["entryTableOffset"] = header.entryTableOffset;
  document["nameTableOffset"] = header.nameTableOffset;
  document["computedTotalSize"] = ComputedTotal(entries);
  document["entries"] = nlohmann::json::array();
  for (const ListedEntry& entry : entries) document["entries"].push_back(EntryJson(entry));
  // Paths are bytes; any that are not UTF-8 show U+FFFD where they break.
  std::puts(document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

}  // namespace

int ListArchive(const std::string& path, bool json, const std::vector<std::string>& patterns) {
  if (!CheckProductOutput("the listing")) return kPakUsageError;
  std::string reason;
  PakHeader header;
  MappedFilePtr file = OpenPakFile(path.c_str(), &header, &reason);
  if (!file) {
    ConsoleError("%s: %s", DisplayName(path).c_str(), DisplayName(reason).c_str());
    return kPakUsageError;
  }
  std::vector<ListedEntry> entries;
  const OpenedArchive archive{path.c_str(), file->data, file->size, header};
  Selection selection{archive, patterns, std::vector<bool>(patterns.size())};
  for (uint32_t index = NextSelected(selection, 0); index < header.entryCount;
       index = NextSelected(selection, index + 1)) {
    entries.push_back(ListEntry(archive, index));
  }
  if (MappedBytesLost(file->data, file->size)) {
    ConsoleError("%s: cannot be read (it changed while being read, or an I/O error)",
                 DisplayName(path).c_str());
    return kPakUsageError;
  }
  if (json) {
    PrintJson(entries, header, path);
  } else {
    PrintText(entries, header);
  }
  // The listing is the command's result: losing it (a full disk, a closed
  // pipe) is a failure, not success.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    ConsoleError("cannot write the listing: %s", std::strerror(errno));
    return kPakUsageError;
  }
  int status = ReportUnmatchedPatterns(selection) ? kPakOk : kPakEntriesFailed;
  for (const ListedEntry& entry : entries) {
    if (entry.facts) continue;
    ReportEntryProblem(entry.index, entry.path.value_or(""), entry.problem);
    status = kPakEntriesFailed;
  }
  return status;
}

void AddListCommand(CLI::App& pak, int* status) {
  auto archive = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  auto patterns = std::make_shared<std::vector<std::string>>();
  CLI::App* command =
      AddCommand(pak, "list", "Show each entry's format, length, sizes and path; decodes nothing");
  command->add_flag("--json", *json, "Print one JSON document instead of a table");
  command->add_option("ARCHIVE", *archive, "The .pak archive")->required();
  AddPatternsOption(command, patterns.get(), "Show only the entries that match a pattern");
  command->callback([archive, json, patterns, status] {
    *status = LoadCodecsForCommand() ? ListArchive(*archive, *json, *patterns) : kPakUsageError;
  });
}

}  // namespace unpak
