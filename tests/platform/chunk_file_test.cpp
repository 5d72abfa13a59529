#include "platform/chunk_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>

#include "platform/byte_order.h"

namespace unpak {

namespace {

TEST(ChunkFileTest, MemoryFindStaysInsideParentAndBlock) {
  // A WAVE form of three chunks (odd, odd, empty), then "late" and "cut "
  // after its end, then the header of a chunk far larger than the block.
  const std::string image(
      "RIFF\x22\0\0\0WAVE"
      "odd1\1\0\0\0\1\0"
      "odd3\3\0\0\0\1\2\3\0"
      "zero\0\0\0\0"
      "late\2\0\0\0\7\7"
      "cut \0\0\0\0"
      "huge\xfe\xff\xff\x7f",
      68);
  // An exactly sized heap block, so that any stray read trips ASan.
  auto block = std::make_unique<uint8_t[]>(image.size());
  std::memcpy(block.get(), image.data(), image.size());
  ChunkFilePtr file = OpenChunkFileInMemory(block.get(), image.size());
  ChunkInfo form;
  ASSERT_TRUE(ChunkDescend(*file, form, nullptr, 0));
  // A parent that ends 4 bytes into the "cut " header never matches that header.
  ChunkInfo shortParent = form;
  shortParent.cksize += 10 + 4;
  // Where each search finds its chunk's data, and where ascending from it
  // leads: past the pad byte of an odd chunk; nowhere past the block.
  const std::tuple<const char*, const ChunkInfo*, int64_t, int64_t> finds[] = {
      {"odd3", &form, 30, 34},        {"zero", &form, 42, 42},   {"late", &form, -1, -1},
      {"late", nullptr, 50, 52},      {"none", nullptr, -1, -1}, {"cut ", nullptr, 60, 60},
      {"cut ", &shortParent, -1, -1}, {"huge", nullptr, 68, -1}};
  ChunkInfo wanted;
  for (const auto& [id, parent, dataOffset, after] : finds) {
    wanted = {LoadLe32(reinterpret_cast<const uint8_t*>(id))};
    ASSERT_EQ(ChunkSeek(*file, 12, SEEK_SET), 12);
    const bool found = ChunkDescend(*file, wanted, parent, kChunkFind);
    EXPECT_EQ(found ? wanted.dataOffset : -1, dataOffset) << id;
    EXPECT_EQ(found && ChunkAscend(*file, wanted) ? ChunkSeek(*file, 0, SEEK_CUR) : -1, after);
  }
  EXPECT_EQ(ChunkSeek(*file, 0, SEEK_CUR), 68);  // a failed ascent leaves the position
  EXPECT_EQ(ChunkSeek(*file, 69, SEEK_SET), -1);
  EXPECT_EQ(ChunkSeek(*file, -4, SEEK_CUR), 64);
  EXPECT_FALSE(ChunkDescend(*file, wanted, nullptr, 0));  // 4 of 8 header bytes left
}

TEST(ChunkFileTest, DiskFailuresStick) {
  EXPECT_FALSE(OpenChunkFileOnDisk(open("/dev/null", O_RDONLY)));  // it must be writable
  // /dev/full takes buffered bytes but fails when they are written out.
  ChunkFilePtr full = OpenChunkFileOnDisk(open("/dev/full", O_RDWR));
  EXPECT_EQ(ChunkWrite(*full, "abcd", 4), 4);
  EXPECT_FALSE(ChunkFileFailed(*full));
  EXPECT_FALSE(ChunkFlush(*full));
  EXPECT_TRUE(ChunkFlush(*full));  // nothing left to write, yet the failure stays
  EXPECT_TRUE(ChunkFileFailed(*full));
  EXPECT_EQ(ChunkWrite(*full, "abcd", 4), -1);  // and nothing more is taken
  EXPECT_FALSE(ChunkFileClose(std::move(full)));
  // Closing writes out what is buffered; a write larger than the buffer fails at once.
  for (const int32_t size : {4, 100000}) {
    ChunkFilePtr file = OpenChunkFileOnDisk(open("/dev/full", O_RDWR));
    EXPECT_EQ(ChunkWrite(*file, std::string(size, '\0').data(), size), size == 4 ? 4 : -1);
    EXPECT_FALSE(ChunkFileClose(std::move(file))) << size;
  }
}

TEST(ChunkFileTest, DiskFilesStopShortOf4GiB) {
  // A RIFF file holds at most 4 GiB - 1 bytes; a write past that fails at
  // once, buffered or not. The anonymous file stays sparse.
  const int64_t limit = (int64_t{1} << 32) - 1;
  for (const int32_t size : {4, 100000}) {
    ChunkFilePtr file = OpenChunkFileOnDisk(memfd_create("chunk_file_test", 0));
    ASSERT_EQ(ChunkSeek(*file, limit - size, SEEK_SET), limit - size);
    EXPECT_EQ(ChunkWrite(*file, std::string(size, 'x').data(), size), size);
    EXPECT_EQ(ChunkWrite(*file, "y", 1), -1);
    EXPECT_EQ(ChunkWriteFailure(*file, "the file"),
              "the output would be larger than a WAV file can hold (4 GiB)");
    EXPECT_FALSE(ChunkFileClose(std::move(file))) << size;
  }
}

}  // namespace

}  // namespace unpak
