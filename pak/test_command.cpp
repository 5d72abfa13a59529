#include <memory>

#include "pak/commands.h"

namespace unpak {

namespace {

struct TestArguments {
  std::string archive;
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
  command->callback([arguments, status] {
    if (!LoadCodecsForCommand()) {
      *status = kPakUsageError;
      return;
    }
    UnpackOptions options;
    options.keepOutputs = false;
    options.reportDamage = true;
    options.lineVerb = "Testing";
    options.workers = arguments->jobs;
    *status = ExitStatusOf(UnpackArchive(arguments->archive.c_str(), options));
  });
}

}  // namespace unpak
