// The cache of decoded entries: which entries it drops, where it holds them,
// and that each is decoded once however many ask.

#include "mount/entry_cache.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <thread>
#include <vector>

namespace unpak {

namespace {

constexpr uint64_t kEntrySize = 100;

// A cache whose decoder makes files of kEntrySize bytes (none for index 99)
// and counts its calls per entry.
struct CountingCache {
  EntryCache cache;
  std::map<uint32_t, std::atomic<int>> calls;
  std::atomic<int> onDemandCalls = 0;

  explicit CountingCache(CacheLimits limits) {
    for (uint32_t index = 0; index < 100; ++index) calls[index] = 0;
    cache.limits = limits;
    cache.decode = [this](uint32_t index, bool inMemory,
                          bool onDemand) -> std::unique_ptr<DecodedEntry> {
      ++calls[index];
      if (onDemand) ++onDemandCalls;
      if (index == 99) return nullptr;
      std::string reason;
      auto decoded = std::make_unique<DecodedEntry>();
      decoded->file.reset(new OpenFile{CreateScratchFile("/tmp", &reason)});
      const std::vector<uint8_t> bytes(kEntrySize, static_cast<uint8_t>(index));
      EXPECT_EQ(write(decoded->file->fd, bytes.data(), bytes.size()), ssize_t{kEntrySize});
      decoded->size = kEntrySize;
      decoded->inMemory = inMemory;
      return decoded;
    };
  }

  std::shared_ptr<const DecodedEntry> Acquire(uint32_t index) {
    return AcquireDecoded(cache, index, kEntrySize);
  }
};

TEST(EntryCache, DropsTheLeastRecentlyUsedOverItsLimit) {
  const struct {
    const char* what;
    std::vector<uint32_t> reads;
    std::map<uint32_t, int> decodes;  // per entry, after the reads
  } rows[] = {
      {"a cached entry is not decoded again", {0, 1, 0, 1}, {{0, 1}, {1, 1}}},
      {"the least recently used goes first", {0, 1, 2, 0, 3, 1}, {{0, 1}, {1, 2}, {2, 1}, {3, 1}}},
      {"one read keeps it from being dropped", {0, 1, 2, 0, 3, 0}, {{0, 1}, {3, 1}}},
      {"a failure is remembered", {99, 99}, {{99, 1}}},
  };
  for (const auto& row : rows) {
    CountingCache counting({3 * kEntrySize, 0});
    for (const uint32_t index : row.reads) {
      const std::shared_ptr<const DecodedEntry> decoded = counting.Acquire(index);
      EXPECT_EQ(decoded != nullptr, index != 99) << row.what;
    }
    for (const auto& [index, count] : row.decodes) {
      EXPECT_EQ(counting.calls[index], count) << row.what << ", entry " << index;
    }
    EXPECT_LE(counting.cache.totalBytes, 3 * kEntrySize) << row.what;
  }
}

TEST(EntryCache, DecodesIntoMemoryWhatTheMemoryShareHasRoomFor) {
  CountingCache counting({10 * kEntrySize, 2 * kEntrySize});
  std::vector<std::shared_ptr<const DecodedEntry>> held;
  for (uint32_t index = 0; index < 3; ++index) held.push_back(counting.Acquire(index));
  for (uint32_t index = 0; index < 3; ++index) {
    const bool inMemory = index < 2;
    EXPECT_EQ(held[index]->inMemory, inMemory) << index;
    char last = 0;
    ASSERT_EQ(pread(held[index]->file->fd, &last, 1, kEntrySize - 1), 1);
    EXPECT_EQ(last, static_cast<char>(index));
  }
  EXPECT_EQ(counting.cache.memoryBytes, 2 * kEntrySize);
}

TEST(EntryCache, DecodesOnceForReadersAtOnceAndAhead) {
  CountingCache counting({10 * kEntrySize, 0});
  StartDecodeWorkers(counting.cache, 2);
  EXPECT_TRUE(DecodeAhead(counting.cache, 1, kEntrySize));
  EXPECT_FALSE(DecodeAhead(counting.cache, 2, 6 * kEntrySize));  // over half the cache
  std::vector<std::thread> readers;
  for (int i = 0; i < 8; ++i) readers.emplace_back([&counting, i] { counting.Acquire(i % 2); });
  for (std::thread& reader : readers) reader.join();
  StopDecodeWorkers(counting.cache);
  EXPECT_EQ(counting.calls[0], 1);
  EXPECT_EQ(counting.calls[1], 1);
  EXPECT_EQ(counting.calls[2], 0);
}

// A reader may leave audio to be decoded as it reads; decoding ahead
// decodes whole, so that the reader finds everything there.
TEST(EntryCache, OnlyReadersDecodeOnDemand) {
  CountingCache counting({10 * kEntrySize, 0});
  StartDecodeWorkers(counting.cache, 1);
  EXPECT_TRUE(DecodeAhead(counting.cache, 5, kEntrySize));
  while (counting.calls[5] == 0) std::this_thread::yield();  // the worker has begun it
  EXPECT_NE(counting.Acquire(5), nullptr);
  StopDecodeWorkers(counting.cache);
  EXPECT_EQ(counting.onDemandCalls, 0);
  EXPECT_NE(counting.Acquire(6), nullptr);
  EXPECT_EQ(counting.onDemandCalls, 1);
  EXPECT_EQ(counting.calls[5], 1);
}

}  // namespace

}  // namespace unpak
