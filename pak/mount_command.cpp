#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "mount/archive_mount.h"
#include "pak/commands.h"
#include "platform/console.h"
#include "run/unpack_archive.h"

extern char** environ;

namespace unpak {

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kDefaultCacheSize = 1024 * kMiB;
constexpr uint64_t kDefaultMemorySize = 256 * kMiB;

int ExitStatusOf(MountStatus status) {
  return status == MountStatus::kUnmounted ? kPakOk : kPakUsageError;
}

// Runs `fusermount3 -u MOUNTPOINT`, which says itself what went wrong.
int Unmount(const std::string& mountPoint) {
  const char* argv[] = {"fusermount3", "-u", mountPoint.c_str(), nullptr};
  pid_t child = 0;
  const int error =
      posix_spawnp(&child, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ);
  if (error != 0) {
    ConsoleError("cannot run fusermount3: %s", std::strerror(error));
    return kPakUsageError;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? kPakOk : kPakEntriesFailed;
}

}  // namespace

void AddMountCommands(CLI::App& pak, int* status) {
  auto options = std::make_shared<MountOptions>();
  options->cache = {kDefaultCacheSize, kDefaultMemorySize};
  CLI::App* mount = AddCommand(
      pak, "mount", "Show the archive as a read-only folder of WAV files, decoded when read");
  mount->add_flag("-f,--foreground", options->foreground,
                  "Stay in the foreground until unmounted (or SIGINT, SIGTERM)");
  mount
      ->add_option("--cache-size", options->cache.total,
                   "Decoded files kept for reading, least recently used dropped first "
                   "(default 1G)")
      ->transform(CLI::AsSizeValue(false));
  mount
      ->add_option("--cache-memory", options->cache.memory,
                   "How much of the cache is held in memory; the rest waits in unnamed "
                   "temporary files (default 256M)")
      ->transform(CLI::AsSizeValue(false));
  mount->add_option("ARCHIVE", options->archive, "The .pak archive")->required();
  mount->add_option("MOUNTPOINT", options->mountPoint, "An empty folder to show it in")
      ->required();
  mount->callback([options, status] {
    if (!LoadCodecsForCommand()) {
      *status = kPakUsageError;
      return;
    }
    options->cache.memory = std::min(options->cache.memory, options->cache.total);
    // A worker for every core, and entries queued for them ahead of a
    // reader going through the entries in order, so that none is idle while
    // the reader is busy with its own.
    options->workers = AvailableCores();
    options->decodeAhead = 2 * options->workers;
    *status = ExitStatusOf(MountArchive(*options));
  });

  auto mountPoint = std::make_shared<std::string>();
  CLI::App* unmount = AddCommand(pak, "unmount", "Unmount an archive that pak mount showed");
  unmount->add_option("MOUNTPOINT", *mountPoint, "Where it is mounted")->required();
  unmount->callback([mountPoint, status] { *status = Unmount(*mountPoint); });
}

}  // namespace unpak
