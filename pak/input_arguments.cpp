#include "pak/input_arguments.h"

#include <filesystem>

namespace unpak {

void AddInputOptions(CLI::App* command, InputOptions* options) {
  options->folderOption =
      command
          ->add_option(
              "-C,--directory", options->folders,
              "Read the PATHs that follow from DIR; their entries are named by the PATHs as given")
          ->allow_extra_args(false);
  options->pathOption =
      command->add_option("PATH", options->paths, "WAV files and folders of them, named as given")
          ->required();
}

std::vector<InputArgument> InputArgumentsOf(const CLI::App& command, const InputOptions& options) {
  std::vector<InputArgument> arguments;
  std::filesystem::path folder;
  size_t folders = 0;
  for (const CLI::Option* option : command.parse_order()) {
    if (option == options.folderOption) {
      folder /= options.folders.at(folders++);
    } else if (option == options.pathOption) {
      arguments.push_back({folder.string(), options.paths.at(arguments.size())});
    }
  }
  return arguments;
}

}  // namespace unpak
