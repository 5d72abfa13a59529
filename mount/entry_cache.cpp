#include "mount/entry_cache.h"

namespace unpak {

namespace {

// Drops the least recently used entries, `keep` aside, while the cache is
// over its limit. Readers that hold a dropped entry keep it until they let
// it go. Called with the lock held.
void DropOverLimit(EntryCache& cache, uint32_t keep) {
  for (auto victim = cache.recent.end();
       cache.totalBytes > cache.limits.total && victim != cache.recent.begin();) {
    --victim;
    if (*victim == keep) continue;
    const std::shared_ptr<const DecodedEntry>& entry = cache.slots[*victim].entry;
    cache.totalBytes -= entry->size;
    if (entry->inMemory) cache.memoryBytes -= entry->size;
    cache.slots.erase(*victim);
    victim = cache.recent.erase(victim);
  }
}

// Decodes the entry whose slot this thread marked as decoding, into memory
// when the memory share has room for the `size` it should come to (on
// demand when `onDemand`), and settles the slot. Called with `lock` held; it is let go meanwhile.
std::shared_ptr<const DecodedEntry> DecodeInto(EntryCache& cache, uint32_t index, uint64_t size,
                                               bool onDemand, std::unique_lock<std::mutex>& lock) {
  const bool inMemory = cache.memoryBytes + size <= cache.limits.memory;
  if (inMemory) cache.memoryBytes += size;  // held for it while it is decoded
  lock.unlock();
  std::unique_ptr<DecodedEntry> decoded = cache.decode(index, inMemory, onDemand);
  lock.lock();
  if (inMemory) cache.memoryBytes -= size;
  if (decoded && decoded->inMemory) cache.memoryBytes += decoded->size;
  CacheSlot& slot = cache.slots[index];
  slot.decoding = false;
  slot.entry = std::move(decoded);
  slot.failed = !slot.entry;
  const std::shared_ptr<const DecodedEntry> settled = slot.entry;
  if (settled) {
    cache.recent.push_front(index);
    slot.recent = cache.recent.begin();
    cache.totalBytes += settled->size;
    DropOverLimit(cache, index);
  }
  cache.settled.notify_all();
  return settled;
}

void RunWorker(EntryCache& cache) {
  std::unique_lock<std::mutex> lock(cache.mutex);
  for (;;) {
    cache.queued.wait(lock, [&] { return cache.stopping || !cache.ahead.empty(); });
    if (cache.stopping) return;
    const auto [index, size] = cache.ahead.front();
    cache.ahead.pop_front();
    cache.aheadBytes -= size;
    CacheSlot& slot = cache.slots[index];
    if (slot.entry || slot.failed || slot.decoding) continue;
    slot.decoding = true;
    DecodeInto(cache, index, size, false, lock);
  }
}

}  // namespace

std::shared_ptr<const DecodedEntry> AcquireDecoded(EntryCache& cache, uint32_t index,
                                                   uint64_t size) {
  std::unique_lock<std::mutex> lock(cache.mutex);
  cache.settled.wait(lock, [&] { return !cache.slots[index].decoding; });
  CacheSlot& settled = cache.slots[index];
  if (settled.failed) return nullptr;
  if (settled.entry) {
    cache.recent.splice(cache.recent.begin(), cache.recent, settled.recent);
    return settled.entry;
  }
  settled.decoding = true;
  return DecodeInto(cache, index, size, true, lock);
}

bool DecodeAhead(EntryCache& cache, uint32_t index, uint64_t size) {
  std::lock_guard<std::mutex> lock(cache.mutex);
  if (cache.slots.contains(index)) return true;
  // Decoding ahead may drop what was read least recently, but never fills
  // more than half the cache with what nobody has asked for yet.
  if (cache.aheadBytes + size > cache.limits.total / 2) return false;
  cache.slots[index];  // known from now on: queued once
  cache.ahead.emplace_back(index, size);
  cache.aheadBytes += size;
  cache.queued.notify_one();
  return true;
}

void StartDecodeWorkers(EntryCache& cache, unsigned count) {
  for (unsigned i = 0; i < count; ++i) cache.workers.emplace_back(RunWorker, std::ref(cache));
}

void StopDecodeWorkers(EntryCache& cache) {
  {
    std::lock_guard<std::mutex> lock(cache.mutex);
    cache.stopping = true;
    cache.ahead.clear();
  }
  cache.queued.notify_all();
  for (std::thread& worker : cache.workers) worker.join();
  cache.workers.clear();
}

}  // namespace unpak
