#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "pak/commands.h"
#include "platform/console.h"
#include "run/process_setup.h"

namespace unpak {

namespace {

struct ExtractArguments {
  std::string archive;
  std::string directory;
  std::vector<std::string> patterns;
  unsigned jobs = AvailableCores();
  bool toStandardOutput = false;
  bool keepOld = false;
  bool keepNewer = false;
};

// For -O: standard output must be somewhere WAV data can go. From then on
// the transcript goes to standard error, and a reader that goes away shows
// as a failed write rather than a signal.
bool PrepareStandardOutput() {
  if (!CheckProductOutput("the WAV data")) return false;
  if (isatty(STDOUT_FILENO) == 1) {
    ConsoleError("will not write WAV data to a terminal: redirect or pipe standard output");
    return false;
  }
  SendTranscriptToStandardError();
  signal(SIGPIPE, SIG_IGN);
  return true;
}

// The folders on the way to `directory` (itself included) that do not exist
// yet, innermost first.
std::vector<std::filesystem::path> MissingFolders(const std::string& directory) {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::absolute(directory, error).lexically_normal();
  if (!folder.has_filename()) folder = folder.parent_path();
  std::vector<std::filesystem::path> missing;
  for (; folder != folder.root_path() &&
         !std::filesystem::exists(std::filesystem::symlink_status(folder, error));
       folder = folder.parent_path()) {
    missing.push_back(folder);
  }
  return missing;
}

// Removes the folders that -C created and that the run left empty, so that
// a run that wrote nothing leaves no trace.
void RemoveUnusedFolders(const std::vector<std::filesystem::path>& created) {
  for (const std::filesystem::path& folder : created) {
    if (rmdir(folder.c_str()) != 0) return;
  }
}

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
  CLI::Option* directory =
      command->add_option("-C,--directory", arguments->directory,
                          "Extract into DIR (created when missing) instead of the current folder");
  command
      ->add_flag("-O,--to-stdout", arguments->toStandardOutput,
                 "Write the WAV files to standard output one after another, nothing to disk; "
                 "the transcript goes to standard error")
      ->excludes(directory);
  CLI::Option* keepOld = command->add_flag(
      "-k,--keep-old-files", arguments->keepOld,
      "Keep every file that already exists at an entry's path; the entry is skipped");
  command
      ->add_flag("--keep-newer-files", arguments->keepNewer,
                 "Keep the existing files that were modified after the archive")
      ->excludes(keepOld)
      ->excludes("-O");
  keepOld->excludes("-O");
  AddJobsOption(command, &arguments->jobs);
  command->add_option("ARCHIVE", arguments->archive, "The .pak archive")->required();
  AddPatternsOption(command, &arguments->patterns, "Extract only the entries that match a pattern");
  command->callback([arguments, status] {
    if (arguments->toStandardOutput && !PrepareStandardOutput()) {
      *status = kPakUsageError;
      return;
    }
    if (!LoadCodecsForCommand()) {
      *status = kPakUsageError;
      return;
    }
    const std::vector<std::filesystem::path> created = MissingFolders(arguments->directory);
    if (!arguments->directory.empty() && !EnterDirectory(*arguments)) {
      RemoveUnusedFolders(created);
      *status = kPakUsageError;
      return;
    }
    UnpackOptions options;
    options.patterns = arguments->patterns;
    options.computeNeededSpace = true;
    if (arguments->toStandardOutput) options.outputTarget = OutputTarget::kStandardOutput;
    if (arguments->keepOld) options.existingFiles = ExistingFiles::kKeep;
    if (arguments->keepNewer) options.existingFiles = ExistingFiles::kKeepNewer;
    options.workers = arguments->jobs;
    *status = ExitStatusOf(UnpackArchive(arguments->archive.c_str(), options));
    RemoveUnusedFolders(created);
  });
}

}  // namespace unpak
