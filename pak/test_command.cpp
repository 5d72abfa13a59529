#include <memory>

#include "pak/commands.h"

namespace unpak {

namespace {

struct TestArguments {
  std::string archive;
  std::vector<std::string> patterns;
  unsigned jobs = AvailableCores();
};

}  // namespace

void AddTestCommand(CLI::App& pak, int* status) {
  auto arguments = std::make_shared<TestArguments>();
  CLI::App* command =
      AddCommand(pak, "test",
                 "Decode every entry as unpak would and report what is wrong; nothing is written");
  command->add_option("ARCHIVE", arguments->archive, "The .pak archive")->required();
  AddJobsOption(command, &arguments->jobs);
  AddPatternsOption(command, &arguments->patterns, "Test only the entries that match a pattern");
  command->callback([arguments, status] {
    if (!LoadCodecsForCommand()) {
      *status = kPakUsageError;
      return;
    }
    UnpackOptions options;
    options.outputTarget = OutputTarget::kNowhere;
    options.showVerdicts = true;
    options.lineVerb = "Testing";
    options.patterns = arguments->patterns;
    options.workers = arguments->jobs;
    *status = ExitStatusOf(UnpackArchive(arguments->archive.c_str(), options));
  });
}

}  // namespace unpak
