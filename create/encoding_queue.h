#pragma once

// Planned entries encoded on worker threads ahead of their turn and handed
// to the archive's writer in order. The archive, each entry's "Compressing"
// line and every message are those of encoding the entries one by one.

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "create/archive_steps.h"

namespace unpak {

struct EncodingQueue;
// Stops the workers, each once it has finished the entry it is encoding,
// and waits for them.
struct EncodingQueueDeleter {
  void operator()(EncodingQueue* queue) const;
};
using EncodingQueuePtr = std::unique_ptr<EncodingQueue, EncodingQueueDeleter>;

// Starts encoding `entries`, listed in the order they are to be written, on
// `workers` threads; an entry's MP3 stream waits in memory until written,
// and at most kEntriesAheadPerWorker entries per worker are encoded ahead.
// With one worker, or when no thread can be started, each entry is encoded
// on this thread in its turn.
EncodingQueuePtr StartEncoding(const std::vector<PlannedEntry*>& entries,
                               const struct stat* archive, unsigned workers);

// Writes the next entry in order: shows its line as its audio is encoded,
// then hands its payload to `write`, as WriteEncodedEntry does.
StepResult WriteNextEntry(EncodingQueue& queue, const std::string& archivePath,
                          const PayloadWriter& write);

}  // namespace unpak
