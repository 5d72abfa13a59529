#include "create/mpeg_settings.h"
#include "create/wave_entry.h"
#include "pak/commands.h"
#include "platform/console.h"
#include "run/codec_loader.h"
#include "run/process_setup.h"

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

bool LoadCodecsForCommand() {
  if (LoadCodecModule()) return true;
  ConsoleError("cannot load the codec module " UNPAK_CODEC_MODULE_NAME);
  return false;
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
      return kPakEntriesFailed;
    case UnpackStatus::kArchiveUnreadable:
      break;
  }
  return kPakUsageError;
}
