#include <memory>

#include "create/update_archive.h"
#include "pak/commands.h"
#include "pak/input_arguments.h"

namespace unpak {

void AddUpdateCommand(CLI::App& pak, int* status) {
  auto request = std::make_shared<UpdateRequest>();
  CLI::App* command = AddCommand(
      pak, "update",
      "Replace the entries named like the WAV files given (folders are searched for *.wav), "
      "add the others, keep the rest as they are");
  AddEncodingOptions(command, &request->settings,
                     "MP3 bit rate in kbps of added entries (default: 128 at 32000 Hz and above, "
                     "64 below); replaced entries keep theirs");
  AddOutputOption(command, &request->output);
  auto chunks = std::make_shared<std::string>("entry");
  command
      ->add_option("--chunks", *chunks,
                   "Whose chunks around the audio a replaced entry keeps: the entry's (its "
                   "\"fact\" set to the new length) or the input's")
      ->check(CLI::IsMember({"entry", "input"}))
      ->capture_default_str();
  request->workers = AvailableCores();
  AddJobsOption(command, &request->workers);
  command->add_option("ARCHIVE", request->archive, "The .pak archive to update")->required();
  auto inputs = std::make_shared<InputOptions>();
  AddInputOptions(command, inputs.get());
  command->callback([request, inputs, chunks, command, status] {
    request->chunks = *chunks == "input" ? ChunkSource::kInput : ChunkSource::kEntry;
    request->inputs = InputArgumentsOf(*command, *inputs);
    if (!LoadCodecsForCommand()) {
      *status = kPakUsageError;
      return;
    }
    *status = ExitStatusOf(UpdateArchive(*request));
  });
}

}  // namespace unpak
