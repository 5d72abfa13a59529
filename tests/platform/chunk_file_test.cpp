#include "platform/chunk_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/byte_order.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The whole of an anonymous file, read through a descriptor that is then closed.
Bytes Contents(int fd) {
  Bytes bytes(lseek(fd, 0, SEEK_END));
  EXPECT_EQ(pread(fd, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
  close(fd);
  return bytes;
}

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

ChunkInfo Chunk(const char (&code)[5], uint32_t size = 0) { return {MakeFourCC(code), size}; }

int64_t Tell(ChunkFile& file) { return ChunkSeek(file, 0, SEEK_CUR); }

TEST(ChunkFileTest, WritesWaveLayoutsAndWalksThemOnDiskAndInMemory) {
  Bytes image;
  for (const std::string tail : {"xy", "", "xyz"}) {
    const int scratch = memfd_create("chunk_file_test", 0);
    ChunkFilePtr file = OpenChunkFileOnDisk(dup(scratch));
    ChunkInfo form, fmt = Chunk("fmt ", 99), data = Chunk("data");  // 99 is fixed on ascend
    form.fccType = MakeFourCC("WAVE");
    ASSERT_TRUE(ChunkCreate(*file, form, kChunkCreateRiff) && ChunkCreate(*file, fmt, 0));
    ASSERT_EQ(ChunkWrite(*file, std::string(16, '\x11').data(), 16), 16);
    ASSERT_TRUE(ChunkAscend(*file, fmt) && ChunkCreate(*file, data, 0));
    ASSERT_EQ(ChunkWrite(*file, "abc", 3), 3);
    ASSERT_TRUE(ChunkAscend(*file, data));
    ASSERT_EQ(ChunkWrite(*file, tail.data(), int32_t(tail.size())), int32_t(tail.size()));
    ASSERT_TRUE(ChunkAscend(*file, form) && ChunkFileClose(std::move(file)));
    // The form's pad byte comes after the tail, at the very end.
    const std::string expected = "RIFF" + std::string(1, char(40 + tail.size())) +
                                 std::string("\0\0\0WAVEfmt \x10\0\0\0", 15) + std::string(16, '\x11') +
                                 std::string("data\3\0\0\0abc\0", 12) + tail +
                                 std::string(tail.size() % 2, '\0');
    image = Contents(scratch);
    EXPECT_EQ(image, ToBytes(expected)) << "tail of " << tail.size();
  }
  // Walks the last one, whose tail is "xyz", in memory.
  ChunkFilePtr file = OpenChunkFileInMemory(image.data(), image.size());
  ChunkInfo form, fmt = Chunk("fmt "), data = Chunk("data");
  ASSERT_TRUE(ChunkDescend(*file, form, nullptr, 0));
  EXPECT_EQ(form.fccType, MakeFourCC("WAVE"));
  EXPECT_EQ(form.cksize, 43u);
  ASSERT_TRUE(ChunkDescend(*file, fmt, &form, kChunkFind));
  EXPECT_EQ(fmt.cksize, 16u);
  ASSERT_TRUE(ChunkAscend(*file, fmt) && ChunkDescend(*file, data, &form, kChunkFind));
  ASSERT_TRUE(ChunkAscend(*file, data));
  EXPECT_EQ(Tell(*file), 48);  // past the pad byte
  char rest[8] = {};
  EXPECT_EQ(ChunkRead(*file, rest, 8), 4);  // "xyz" and the form's pad
  EXPECT_EQ(std::string(rest, 4), std::string("xyz\0", 4));
  EXPECT_EQ(ChunkRead(*file, rest, 8), 0);
  EXPECT_FALSE(ChunkFileFailed(*file));
}

TEST(ChunkFileTest, MemoryFindStaysInsideParentAndBlock) {
  // A WAVE form of three chunks (odd, odd, empty), then "late" and "cut "
  // after its end, then the header of a chunk far larger than the block.
  const std::string image("RIFF\x22\0\0\0WAVE" "odd1\1\0\0\0\1\0" "odd3\3\0\0\0\1\2\3\0" "zero\0\0\0\0"
                          "late\2\0\0\0\7\7" "cut \0\0\0\0" "huge\xfe\xff\xff\x7f", 68);
  // An exactly sized heap block, so that any stray read trips ASan.
  auto block = std::make_unique<uint8_t[]>(image.size());
  std::copy(image.begin(), image.end(), block.get());
  ChunkFilePtr file = OpenChunkFileInMemory(block.get(), image.size());
  ChunkInfo form;
  ASSERT_TRUE(ChunkDescend(*file, form, nullptr, 0));

  // A parent that ends 4 bytes into the "cut " header never matches that header.
  ChunkInfo shortParent = form;
  shortParent.cksize += 10 + 4;
  const struct { const char* id; const ChunkInfo* parent; int64_t dataOffset; } finds[] = {
      {"zero", &form, 42}, {"late", &form, -1}, {"late", nullptr, 50},
      {"cut ", &shortParent, -1}, {"cut ", nullptr, 60}, {"none", nullptr, -1}};
  for (const auto& find : finds) {
    ChunkInfo wanted{LoadLe32(reinterpret_cast<const uint8_t*>(find.id))};
    ASSERT_EQ(ChunkSeek(*file, 12, SEEK_SET), 12);
    const bool found = ChunkDescend(*file, wanted, find.parent, kChunkFind);
    EXPECT_EQ(found ? wanted.dataOffset : -1, find.dataOffset) << find.id;
  }
  EXPECT_FALSE(ChunkFileFailed(*file));  // a fruitless search is no failure

  ChunkInfo huge = Chunk("huge");
  ASSERT_EQ(ChunkSeek(*file, 12, SEEK_SET), 12);
  ASSERT_TRUE(ChunkDescend(*file, huge, nullptr, kChunkFind));
  EXPECT_EQ(huge.cksize, 0x7FFFFFFEu);
  EXPECT_FALSE(ChunkAscend(*file, huge));
  EXPECT_EQ(Tell(*file), 68);  // the position stays
  uint8_t buffer[8];
  EXPECT_EQ(ChunkRead(*file, buffer, 8), 0);
  EXPECT_EQ(ChunkSeek(*file, 69, SEEK_SET), -1);
  EXPECT_EQ(ChunkSeek(*file, -69, SEEK_CUR), -1);
  EXPECT_EQ(ChunkSeek(*file, -4, SEEK_CUR), 64);
  EXPECT_FALSE(ChunkDescend(*file, huge, nullptr, 0));  // 4 of 8 header bytes left
  EXPECT_EQ(ChunkWrite(*file, "zz", 2), -1);
  EXPECT_FALSE(ChunkCreate(*file, huge, 0));
  EXPECT_EQ(std::memcmp(image.data(), block.get(), image.size()), 0);
  EXPECT_TRUE(ChunkFileFailed(*file));
}

TEST(ChunkFileTest, DiskReadsBackWritesAcrossTheBuffer) {
  const int scratch = memfd_create("chunk_file_test", 0);
  ChunkFilePtr file = OpenChunkFileOnDisk(dup(scratch));
  Bytes expected(200000);
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<uint8_t>(i * 7 + i / 251);
  // Small buffered writes, then one that bypasses the buffer.
  for (size_t at = 0; at < 100000; at += 1000) ASSERT_EQ(ChunkWrite(*file, &expected[at], 1000), 1000);
  ASSERT_EQ(ChunkWrite(*file, &expected[100000], 100000), 100000);
  // Overwrite across the first buffer's end, then read it all back unflushed.
  std::fill(&expected[65530], &expected[65550], 0xEE);
  ASSERT_EQ(ChunkSeek(*file, -134470, SEEK_CUR), 65530);
  ASSERT_EQ(ChunkWrite(*file, &expected[65530], 20), 20);
  Bytes back(expected.size() + 10);
  ASSERT_EQ(ChunkSeek(*file, 1, SEEK_SET), 1);
  int32_t total = 1;
  for (int32_t got; (got = ChunkRead(*file, &back[total], 777)) > 0;) total += got;
  EXPECT_EQ(total, 200000);
  EXPECT_TRUE(std::equal(&back[1], &back[200000], &expected[1]));
  EXPECT_TRUE(ChunkFileClose(std::move(file)));
  EXPECT_EQ(Contents(scratch), expected);
}

TEST(ChunkFileTest, DiskOpeningAndStickyFailure) {
  const int scratch = memfd_create("chunk_file_test", 0);
  ASSERT_EQ(write(scratch, "old", 3), 3);
  EXPECT_FALSE(OpenChunkFileOnDisk(-1));
  EXPECT_TRUE(ChunkFileClose(OpenChunkFileOnDisk(dup(scratch))));
  EXPECT_TRUE(Contents(scratch).empty());

  // /dev/full takes buffered bytes but fails when they are written out.
  ChunkFilePtr full = OpenChunkFileOnDisk(open("/dev/full", O_RDWR));
  EXPECT_EQ(ChunkWrite(*full, "abcd", 4), 4);
  EXPECT_FALSE(ChunkFileFailed(*full));
  EXPECT_FALSE(ChunkFlush(*full));
  EXPECT_TRUE(ChunkFlush(*full));  // nothing left to write, yet the failure stays
  EXPECT_TRUE(ChunkFileFailed(*full));
  EXPECT_FALSE(ChunkFileClose(std::move(full)));
  ChunkFilePtr unflushed = OpenChunkFileOnDisk(open("/dev/full", O_RDWR));
  EXPECT_EQ(ChunkWrite(*unflushed, "abcd", 4), 4);
  EXPECT_FALSE(ChunkFileClose(std::move(unflushed)));
  ChunkFilePtr large = OpenChunkFileOnDisk(open("/dev/full", O_RDWR));
  EXPECT_EQ(ChunkWrite(*large, Bytes(100000).data(), 100000), -1);
  EXPECT_FALSE(ChunkFileClose(std::move(large)));
}

}  // namespace
