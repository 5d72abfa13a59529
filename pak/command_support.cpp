#include <cstdio>

#include "create/mpeg_settings.h"
#include "create/wave_entry.h"
#include "pak/commands.h"
#include "platform/console.h"
#include "run/codec_loader.h"
#include "run/process_setup.h"

namespace unpak {

CLI::App* AddCommand(CLI::App& pak, const char* name, const char* description) {
  CLI::App* command = pak.add_subcommand(name, description);
  command->set_help_all_flag();
  command->set_help_flag("-h,--help", "Print this command's help and exit");
  return command;
}

void AddEncodingOptions(CLI::App* command, CreateSettings* settings,
                        const std::string& bitrateHelp) {
  command->add_option("-b", settings->kbps, bitrateHelp)->check(CLI::IsMember(Layer3Bitrates()));
  command->add_option("-q", settings->quality, "LAME's quality: 0 best to 9 fastest")
      ->default_val(2)
      ->check(CLI::Range(0, 9));
}

CLI::Option* AddJobsOption(CLI::App* command, unsigned* jobs) {
  return command
      ->add_option("-j,--jobs", *jobs, "Entries converted at once (default: the usable cores)")
      ->check(CLI::Range(1u, kMaxWorkers));
}

void AddPatternsOption(CLI::App* command, std::vector<std::string>* patterns,
                       const std::string& help) {
  command->add_option("PATTERN", *patterns,
                      help +
                          ": a path as listed, or a shell pattern with / between folders; "
                          "letter case is ignored");
}

bool LoadCodecsForCommand() {
  if (LoadCodecModule()) return true;
  ConsoleError("cannot load the codec module " UNPAK_CODEC_MODULE_NAME);
  return false;
}

std::string Duration(double seconds) {
  const auto millis = static_cast<uint64_t>(seconds * 1000 + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%llu:%02llu.%03llu",
                static_cast<unsigned long long>(millis / 60000),
                static_cast<unsigned long long>(millis / 1000 % 60),
                static_cast<unsigned long long>(millis % 1000));
  return text;
}

std::string SizeWords(uint64_t bytes) {
  char text[32];
  if (bytes < 1000000) {
    std::snprintf(text, sizeof text, "%.1f kB", static_cast<double>(bytes) / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  }
  return text;
}

int ExitStatusOf(UpdateStatus status) {
  switch (status) {
    case UpdateStatus::kUpdated:
      return kPakOk;
    case UpdateStatus::kInputsRefused:
      return kPakEntriesFailed;
    case UpdateStatus::kArchiveUnusable:
      break;
  }
  return kPakUsageError;
}

void AddOutputOption(CLI::App* command, std::string* output) {
  command->add_option("-o,--output", *output,
                      "Write the new archive here and leave ARCHIVE as it is");
}

bool CheckProductOutput(const char* what) {
  if (StandardOutputWasOpen()) return true;
  ConsoleError("standard output is closed: %s has nowhere to go", what);
  return false;
}

int ExitStatusOf(UnpackStatus status) {
  switch (status) {
    case UnpackStatus::kOk:
      return kPakOk;
    case UnpackStatus::kEntriesFailed:
    case UnpackStatus::kDeclined:
    case UnpackStatus::kReaderGone:
      return kPakEntriesFailed;
    case UnpackStatus::kArchiveUnreadable:
    case UnpackStatus::kOutputFailed:
      break;
  }
  return kPakUsageError;
}

}  // namespace unpak
