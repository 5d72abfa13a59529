#pragma once

// An archive mounted with FUSE as a read-only folder of the WAV files unpak
// would write, each decoded when it is first read.

#include <string>

#include "mount/entry_cache.h"

namespace unpak {

struct MountOptions {
  std::string archive;
  std::string mountPoint;
  bool foreground = false;  // else the process detaches once the mount is ready
  CacheLimits cache;
  unsigned workers = 1;      // threads that decode entries ahead
  unsigned decodeAhead = 1;  // entries queued ahead of a reader going through them in order
};

enum class MountStatus {
  kUnmounted,          // served until unmounted or told to stop
  kArchiveUnreadable,  // reported; nothing was mounted
  kMountFailed,        // reported; nothing was mounted
};

// Mounts the archive and serves it until it is unmounted, or SIGINT, SIGTERM
// or SIGHUP arrives; then unmounts it. Entries unpak refuses are reported
// and left out. Problems before the mount is ready are reported on standard
// error, before the process detaches.
MountStatus MountArchive(const MountOptions& options);

}  // namespace unpak
