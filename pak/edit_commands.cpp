#include <memory>

#include "create/edit_archive.h"
#include "pak/commands.h"

namespace unpak {

void AddDeleteCommand(CLI::App& pak, int* status) {
  auto request = std::make_shared<DeleteRequest>();
  CLI::App* command = AddCommand(
      pak, "delete", "Remove the entries whose paths match a pattern, keep the rest as they are");
  AddOutputOption(command, &request->output);
  command->add_option("ARCHIVE", request->archive, "The .pak archive")->required();
  command
      ->add_option("PATTERN", request->patterns,
                   "Shell patterns matched as pak extract matches them")
      ->required();
  command->callback([request, status] {
    *status = LoadCodecsForCommand() ? ExitStatusOf(DeleteEntries(*request)) : kPakUsageError;
  });
}

void AddRenameCommand(CLI::App& pak, int* status) {
  auto request = std::make_shared<RenameRequest>();
  CLI::App* command =
      AddCommand(pak, "rename", "Give one entry a new path, keep the rest as they are");
  AddOutputOption(command, &request->output);
  command->add_option("ARCHIVE", request->archive, "The .pak archive")->required();
  command
      ->add_option("OLD", request->pattern,
                   "A shell pattern, matched as pak extract matches them, for one entry")
      ->required();
  command->add_option("NEW", request->newName, "The entry's new path, slashes or backslashes")
      ->required();
  command->callback([request, status] {
    *status = LoadCodecsForCommand() ? ExitStatusOf(RenameEntry(*request)) : kPakUsageError;
  });
}

}  // namespace unpak
