#pragma once

// Decoded entries kept for reading, bounded in size: each decoded into a
// file in memory while the memory share has room, else into an unnamed
// temporary file; the
// least recently used dropped first when the whole is over its limit. Each
// entry is decoded once however many readers ask for it at once, and entries
// that readers are likely to want next are decoded ahead on workers.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "mount/decoded_entry.h"

namespace unpak {

struct CacheLimits {
  uint64_t total = 0;   // bytes of decoded files kept, in memory and on disk
  uint64_t memory = 0;  // of which in memory
};

// Decodes an entry into memory or into a temporary file; null when it cannot
// be. `onDemand` (for a reader, not when decoding ahead) lets it leave audio
// to be decoded as it is read.
using EntryDecoder =
    std::function<std::unique_ptr<DecodedEntry>(uint32_t index, bool inMemory, bool onDemand)>;

struct CacheSlot {
  std::shared_ptr<const DecodedEntry> entry;  // null while decoding, or after failing
  bool decoding = false;
  bool failed = false;                         // decoding it fails, and always will
  std::list<uint32_t>::iterator recent;        // its place in EntryCache::recent, once decoded
};

struct EntryCache {
  CacheLimits limits;
  EntryDecoder decode;
  std::mutex mutex;
  std::condition_variable settled;  // an entry finished decoding
  std::unordered_map<uint32_t, CacheSlot> slots;
  std::list<uint32_t> recent;  // decoded entries, most recently used first
  uint64_t totalBytes = 0;
  uint64_t memoryBytes = 0;
  // Decoding ahead.
  std::deque<std::pair<uint32_t, uint64_t>> ahead;  // entries and their expected sizes
  uint64_t aheadBytes = 0;
  std::condition_variable queued;
  bool stopping = false;
  std::vector<std::thread> workers;
};

// The entry's decoded file, from the cache or decoded now; `size` is what it
// should come to. Null when it cannot be decoded.
std::shared_ptr<const DecodedEntry> AcquireDecoded(EntryCache& cache, uint32_t index,
                                                   uint64_t size);

// Queues the entry, whose file should be `size` bytes, to be decoded by a
// worker, unless it is cached, being decoded or queued. False when the
// entries queued would fill more than half the cache.
bool DecodeAhead(EntryCache& cache, uint32_t index, uint64_t size);

// Starts `count` workers that decode what is queued; StopDecodeWorkers drops
// the queue and waits for the decodes under way.
void StartDecodeWorkers(EntryCache& cache, unsigned count);
void StopDecodeWorkers(EntryCache& cache);

}  // namespace unpak
