#include <memory>

#include "create/mpeg_settings.h"
#include "create/update_archive.h"
#include "pak/commands.h"

void AddUpdateCommand(CLI::App& pak, int* status) {
  auto request = std::make_shared<UpdateRequest>();
  CLI::App* command = AddCommand(
      pak, "update",
      "Replace the entries named like the WAV files given (folders are searched for *.wav), "
      "add the others, keep the rest as they are");
  command
      ->add_option("-b", request->settings.kbps,
                   "MP3 bit rate in kbps of added entries (default: 128 at 32000 Hz and above, "
                   "64 below); replaced entries keep theirs")
      ->check(CLI::IsMember(Layer3Bitrates()));
  command->add_option("-q", request->settings.quality, "LAME's quality: 0 best to 9 fastest")
      ->default_val(2)
      ->check(CLI::Range(0, 9));
  command->add_option("-o,--output", request->output,
                      "Write the new archive here and leave ARCHIVE as it is");
  command->add_option("ARCHIVE", request->archive, "The .pak archive to update")->required();
  command->add_option("PATH", request->paths, "WAV files and folders of them")->required();
  command->callback([request, status] {
    if (!LoadCodecsForCommand()) {
      *status = kPakUsageError;
      return;
    }
    switch (UpdateArchive(*request)) {
      case UpdateStatus::kUpdated:
        *status = kPakOk;
        return;
      case UpdateStatus::kInputsRefused:
        *status = kPakEntriesFailed;
        return;
      case UpdateStatus::kArchiveUnusable:
        *status = kPakUsageError;
        return;
    }
  });
}
