#include "run/unpack_archive.h"

#include <sched.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "archive/pak_file.h"
#include "platform/console.h"
#include "platform/output_file.h"
#include "run/entry_pipeline.h"
#include "archive/entry_selection.h"
#include "run/free_space.h"
#include "run/needed_space.h"

namespace unpak {

unsigned AvailableCores() {
  cpu_set_t cores;
  if (sched_getaffinity(0, sizeof cores, &cores) != 0) return 1;
  return std::clamp(static_cast<unsigned>(CPU_COUNT(&cores)), 1u, kMaxWorkers);
}

UnpackStatus UnpackArchive(const char* archivePath, const UnpackOptions& options) {
  std::string reason;
  OpenedArchive archive{archivePath, nullptr, 0, {}};
  MappedFilePtr file = OpenPakFile(archivePath, &archive.header, &reason);
  if (!file) {
    ConsoleError("%s: %s", archivePath, reason.c_str());
    return UnpackStatus::kArchiveUnreadable;
  }
  archive.data = file->data;
  archive.size = file->size;
  struct stat info;
  if (fstat(file->fd, &info) == 0) archive.modified = info.st_mtim;
  const bool writesFiles = options.outputTarget == OutputTarget::kEntryPath;
  if (writesFiles) ProtectFromOutputs(file->device, file->inode);

  Selection selection{archive, options.patterns, std::vector<bool>(options.patterns.size())};
  if (writesFiles) {
    const uint64_t needed =
        options.computeNeededSpace ? NeededSpace(selection) : archive.header.totalUnpackedSize;
    if (!CheckFreeSpace(needed)) return UnpackStatus::kDeclined;
  }
  RunCounts counts;
  if (options.workers <= 1) {
    RunInOrder(archive, options, selection, &counts);
  } else {
    RunInParallel(archive, options, selection, &counts);
  }
  // The reader of standard output went away: nothing more to say to anyone.
  if (counts.outputError == EPIPE) return UnpackStatus::kReaderGone;
  if (counts.outputError != 0) return UnpackStatus::kOutputFailed;
  if (counts.stopped) return UnpackStatus::kArchiveUnreadable;

  const bool unmatched = !ReportUnmatchedPatterns(selection);
  if (options.showVerdicts) {
    const uint32_t bad = counts.failed + counts.damaged;
    ConsolePrint("%u entries tested: %u ok, %u failed or damaged\n", counts.entries,
                 counts.entries - bad, bad);
  } else if (counts.failed > 0) {
    ConsoleError("%u of %u entries failed", counts.failed, counts.entries);
  }
  const bool damageFailed = options.damageFails && counts.damaged > 0;
  return counts.failed > 0 || damageFailed || unmatched ? UnpackStatus::kEntriesFailed
                                                        : UnpackStatus::kOk;
}

}  // namespace unpak
