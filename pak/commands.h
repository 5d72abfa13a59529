#pragma once

// pak's commands. Each adds its subcommand with its options to the parser;
// the subcommand's callback runs it and leaves the exit status in `status`.

#include <CLI/CLI.hpp>

#include "run/unpack_archive.h"

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

// A new subcommand with its own --help.
CLI::App* AddCommand(CLI::App& pak, const char* name, const char* description);

struct CreateSettings;
// -b and -q, LAME's bit rate and quality; `bitrateHelp` says which entries
// the bit rate is for.
void AddEncodingOptions(CLI::App* command, CreateSettings* settings,
                        const std::string& bitrateHelp);

// -j, the entries converted at once.
CLI::Option* AddJobsOption(CLI::App* command, unsigned* jobs);

// Loads the codec module, saying so when it cannot. False then.
bool LoadCodecsForCommand();

int ExitStatusOf(UnpackStatus status);

// For a command whose standard output is its product (`what`): false,
// said, when standard output was closed at start and so goes nowhere.
bool CheckProductOutput(const char* what);

// `pak list`: prints the archive's entries as a table or a JSON document.
// Returns the exit status.
int ListArchive(const std::string& path, bool json);
