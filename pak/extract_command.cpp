#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "pak/commands.h"
#include "platform/console.h"

namespace unpak {

namespace {

struct ExtractArguments {
  std::string archive;
  std::string directory;
  std::vector<std::string> patterns;
  unsigned jobs = AvailableCores();
};

// The archive's path as seen from `directory`, which becomes the current one.
bool EnterDirectory(ExtractArguments& arguments) {
  std::error_code error;
  arguments.archive = std::filesystem::absolute(arguments.archive, error).string();
  std::filesystem::create_directories(arguments.directory, error);
  if (chdir(arguments.directory.c_str()) != 0) {
    ConsoleError("%s: cannot enter the folder: %s", arguments.directory.c_str(),
                 std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

void AddExtractCommand(CLI::App& pak, int* status) {
  auto arguments = std::make_shared<ExtractArguments>();
  CLI::App* command =
      AddCommand(pak, "extract", "Write the entries whose paths match a pattern (all by default)");
  command->add_option("-C,--directory", arguments->directory,
                      "Extract into DIR (created when missing) instead of the current folder");
  AddJobsOption(command, &arguments->jobs);
  command->add_option("ARCHIVE", arguments->archive, "The .pak archive")->required();
  command->add_option("PATTERN", arguments->patterns,
                      "Shell patterns matched case-insensitively against the paths, with "
                      "backslashes read as slashes");
  command->callback([arguments, status] {
    if (!LoadCodecsForCommand()) {
      *status = kPakUsageError;
      return;
    }
    if (!arguments->directory.empty() && !EnterDirectory(*arguments)) {
      *status = kPakUsageError;
      return;
    }
    UnpackOptions options;
    options.patterns = arguments->patterns;
    options.computeNeededSpace = true;
    options.workers = arguments->jobs;
    *status = ExitStatusOf(UnpackArchive(arguments->archive.c_str(), options));
  });
}

}  // namespace unpak
