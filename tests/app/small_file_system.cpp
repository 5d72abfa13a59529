#include "tests/app/small_file_system.h"

#include <fstream>

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

// An interrupt must end unpak, not the shell, so that the listing is still
// written; a trapped signal is reset to its default in unpak.
constexpr const char* kScript =
    "trap : INT TERM HUP\n"
    "mount -t tmpfs -o size=\"$1\" tmpfs \"$2\" && cd \"$2\" || exit 99\n"
    "yes | \"$3\" \"$4\"\n"
    "status=$?\n"
    "ls -A > \"$5\"\n"
    "exit $status\n";

// The unshare options that allow mounting here: as root a mount namespace
// will do; otherwise a user namespace that maps the user to root as well.
std::optional<std::string> NamespaceOptions() {
  static const std::optional<std::string> options = []() -> std::optional<std::string> {
    TempDir dir;
    for (const std::string option : {"-m", "-rm"}) {
      const ProgramResult probe = RunProgram(
          "/usr/bin/env",
          {"env", "unshare", option, "sh", "-c", "mount -t tmpfs -o size=64k tmpfs \"$1\"", "sh",
           dir.path.string()},
          dir.path);
      if (probe.exitStatus == 0) return option;
    }
    return std::nullopt;
  }();
  return options;
}

}  // namespace

std::optional<std::vector<std::string>> UnpakOnSmallFileSystem(
    const std::string& unpak, const std::filesystem::path& archive, const std::string& size,
    const std::filesystem::path& mountPoint, const std::filesystem::path& listing) {
  const std::optional<std::string> options = NamespaceOptions();
  if (!options) return std::nullopt;
  return std::vector<std::string>{"unshare", *options, "sh", "-c", kScript, "sh", size,
                                  mountPoint.string(), unpak, archive.string(), listing.string()};
}

std::vector<std::string> ReadListing(const std::filesystem::path& listing) {
  std::ifstream in(listing);
  std::vector<std::string> names;
  for (std::string name; std::getline(in, name);) names.push_back(name);
  return names;
}
