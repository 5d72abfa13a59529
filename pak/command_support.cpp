#include "app/codec_loader.h"
#include "pak/commands.h"
#include "platform/console.h"

CLI::App* AddCommand(CLI::App& pak, const char* name, const char* description) {
  CLI::App* command = pak.add_subcommand(name, description);
  command->set_help_all_flag();
  command->set_help_flag("-h,--help", "Print this command's help and exit");
  return command;
}

bool LoadCodecsForCommand() {
  if (LoadCodecModule()) return true;
  ConsoleError("cannot load the codec module " UNPAK_CODEC_MODULE_NAME);
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
