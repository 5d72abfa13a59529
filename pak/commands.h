#pragma once

// pak's commands. Each adds its subcommand with its options to the parser;
// the subcommand's callback runs it and leaves the exit status in `status`.

#include <CLI/CLI.hpp>

#include "create/update_archive.h"
#include "run/unpack_archive.h"

namespace unpak {

// Exit statuses: all asked for was sound and done; some entry failed or was
// damaged, or a pattern matched nothing; a usage error, or an archive that
// cannot be read at all.
constexpr int kPakOk = 0;
constexpr int kPakEntriesFailed = 1;
constexpr int kPakUsageError = 2;

void AddListCommand(CLI::App& pak, int* status);
void AddTestCommand(CLI::App& pak, int* status);
void AddExtractCommand(CLI::App& pak, int* status);
void AddCreateCommand(CLI::App& pak, int* status);
void AddUpdateCommand(CLI::App& pak, int* status);
void AddDeleteCommand(CLI::App& pak, int* status);
void AddRenameCommand(CLI::App& pak, int* status);
// pak mount and pak unmount.
void AddMountCommands(CLI::App& pak, int* status);

// Says so when the first argument names no command (a slip such as "lst"),
// suggesting the nearest command. True then.
bool ReportUnknownCommand(CLI::App& pak, int argc, char** argv);

// A new subcommand with its own --help.
CLI::App* AddCommand(CLI::App& pak, const char* name, const char* description);

struct CreateSettings;
// -b and -q, LAME's bit rate and quality; `bitrateHelp` says which entries
// the bit rate is for.
void AddEncodingOptions(CLI::App* command, CreateSettings* settings,
                        const std::string& bitrateHelp);

// -j, the entries converted at once.
CLI::Option* AddJobsOption(CLI::App* command, unsigned* jobs);

// PATTERN..., the entries to work on (all by default); `help` says what
// the command does with them.
void AddPatternsOption(CLI::App* command, std::vector<std::string>* patterns,
                       const std::string& help);

// Loads the codec module, saying so when it cannot. False then.
bool LoadCodecsForCommand();

int ExitStatusOf(UnpackStatus status);

// A length of audio as minutes, seconds and milliseconds: "1:02.500".
std::string Duration(double seconds);

// A size in bytes in kB or MB, as a summary shows it: "10.2 MB".
std::string SizeWords(uint64_t bytes);
int ExitStatusOf(UpdateStatus status);

// For a command whose standard output is its product (`what`): false,
// said, when standard output was closed at start and so goes nowhere.
bool CheckProductOutput(const char* what);

// -o, where an archive rewritten goes instead of over itself.
void AddOutputOption(CLI::App* command, std::string* output);

// `pak list`: prints the archive's entries that match one of the patterns
// (all of them when there is none) as a table or a JSON document. Returns
// the exit status.
int ListArchive(const std::string& path, bool json, const std::vector<std::string>& patterns);

}  // namespace unpak
