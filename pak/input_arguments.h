#pragma once

// The inputs of `pak create` and `pak update`: PATHs, each read from the
// folder that the -C options before it lead to, as tar reads them.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "create/input_files.h"

namespace unpak {

struct InputOptions {
  std::vector<std::string> folders;
  std::vector<std::string> paths;
  CLI::Option* folderOption = nullptr;
  CLI::Option* pathOption = nullptr;
};

// Adds -C DIR and the PATH arguments, after the ARCHIVE argument.
void AddInputOptions(CLI::App* command, InputOptions* options);

// The PATHs in the order given, each with the folder that the -C options
// before it lead to: a relative DIR is taken from the one before it.
std::vector<InputArgument> InputArgumentsOf(const CLI::App& command, const InputOptions& options);

}  // namespace unpak
