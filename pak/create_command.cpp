#include <memory>

#include "create/create_archive.h"
#include "pak/commands.h"
#include "pak/input_arguments.h"
#include "platform/console.h"

namespace unpak {

void AddCreateCommand(CLI::App& pak, int* status) {
  auto request = std::make_shared<CreateRequest>();
  CLI::App* command = AddCommand(
      pak, "create",
      "Write a new archive of WAV files (folders are searched for *.wav), MP3-compressed");
  AddEncodingOptions(command, &request->settings,
                     "MP3 bit rate in kbps (default: 128 at 32000 Hz and above, 64 below)");
  request->workers = AvailableCores();
  AddJobsOption(command, &request->workers);
  command->add_option("ARCHIVE", request->archive, "The .pak archive to write")->required();
  auto inputs = std::make_shared<InputOptions>();
  AddInputOptions(command, inputs.get());
  command->callback([request, inputs, command, status] {
    request->inputs = InputArgumentsOf(*command, *inputs);
    if (!LoadCodecsForCommand()) {
      *status = kPakUsageError;
      return;
    }
    CreatedArchive created;
    switch (CreateArchive(*request, &created)) {
      case CreateStatus::kCreated:
        ConsolePrint("%zu entries, %s of audio, %s\n", created.entries,
                     Duration(created.seconds).c_str(), SizeWords(created.size).c_str());
        *status = kPakOk;
        return;
      case CreateStatus::kInputsRefused:
        *status = kPakEntriesFailed;
        return;
      case CreateStatus::kArchiveUnwritable:
        *status = kPakUsageError;
        return;
    }
  });
}

}  // namespace unpak
