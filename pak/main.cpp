#include <CLI/CLI.hpp>
#include <cstdio>

#include "pak/commands.h"
#include "platform/console.h"
#include "run/codec_loader.h"
#include "run/process_setup.h"

int main(int argc, char** argv) {
  using namespace unpak;
  PrepareProcess("pak");
  CLI::App pak{
      "List, test, extract, create, update, delete from, rename in and mount .pak archives of "
      "compressed game audio.",
      "pak"};
  pak.set_version_flag("--version", UNPAK_VERSION, "Print the version and exit");
  // --help shows every command's usage at once.
  pak.set_help_flag();
  pak.set_help_all_flag("-h,--help", "Print this help and exit");
  pak.require_subcommand(1, 1);
  int status = 0;
  AddListCommand(pak, &status);
  AddTestCommand(pak, &status);
  AddExtractCommand(pak, &status);
  AddCreateCommand(pak, &status);
  AddUpdateCommand(pak, &status);
  AddDeleteCommand(pak, &status);
  AddRenameCommand(pak, &status);
  AddMountCommands(pak, &status);
  if (ReportUnknownCommand(pak, argc, argv)) return kPakUsageError;
  try {
    pak.parse(argc, argv);
  } catch (const CLI::Success& done) {
    return pak.exit(done);  // --help or --version, on standard output
  } catch (const CLI::ParseError& error) {
    ConsoleError("%s", error.what());
    std::fputs(pak.help("", CLI::AppFormatMode::All).c_str(), stderr);
    return kPakUsageError;
  }
  return status;
}
