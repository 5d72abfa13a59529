#include "platform/chunk_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/byte_order.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct TempDir {
  std::string path;
  TempDir() {
    char pattern[] = "/tmp/chunk_file_test.XXXXXX";
    if (mkdtemp(pattern)) path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
};

ChunkFilePtr CreateOnDisk(const std::string& path) {
  return OpenChunkFileOnDisk(open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644));
}

Bytes ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void PutLe32(Bytes& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutChunk(Bytes& out, const char (&code)[5], const Bytes& data) {
  PutLe32(out, MakeFourCC(code));
  PutLe32(out, static_cast<uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() & 1) out.push_back(0);
}

// "RIFF", size, then `body` (which starts with the form type) and its pad.
Bytes Form(const Bytes& body) {
  Bytes file;
  PutChunk(file, "RIFF", body);
  return file;
}

ChunkInfo Chunk(const char (&code)[5], uint32_t size = 0) {
  ChunkInfo chunk;
  chunk.ckid = MakeFourCC(code);
  chunk.cksize = size;
  return chunk;
}

int64_t Tell(ChunkFile& file) { return ChunkSeek(file, 0, SEEK_CUR); }

// A WAVE form: 16-byte "fmt ", 3-byte "data", then `tail` as raw bytes.
void WriteWave(ChunkFile& file, const Bytes& tail) {
  ChunkInfo form;
  form.fccType = MakeFourCC("WAVE");
  ChunkInfo fmt = Chunk("fmt ", 99);  // a wrong size, fixed on ascend
  ChunkInfo data = Chunk("data");
  ASSERT_TRUE(ChunkCreate(file, form, kChunkCreateRiff));
  ASSERT_TRUE(ChunkCreate(file, fmt, 0));
  ASSERT_EQ(ChunkWrite(file, Bytes(16, 0x11).data(), 16), 16);
  ASSERT_TRUE(ChunkAscend(file, fmt));
  ASSERT_TRUE(ChunkCreate(file, data, 0));
  ASSERT_EQ(ChunkWrite(file, "abc", 3), 3);
  ASSERT_TRUE(ChunkAscend(file, data));
  EXPECT_EQ(Tell(file), 48);
  ASSERT_EQ(ChunkWrite(file, tail.data(), static_cast<int32_t>(tail.size())), static_cast<int32_t>(tail.size()));
  ASSERT_TRUE(ChunkAscend(file, form));
  EXPECT_EQ(form.cksize, 40 + tail.size());
}

Bytes ExpectedWave(const Bytes& tail) {
  Bytes body;
  PutLe32(body, MakeFourCC("WAVE"));
  PutChunk(body, "fmt ", Bytes(16, 0x11));
  PutChunk(body, "data", Bytes{'a', 'b', 'c'});
  body.insert(body.end(), tail.begin(), tail.end());
  return Form(body);
}

// Walks what WriteWave wrote with tail "xyz".
void CheckWaveNavigation(ChunkFile& file) {
  ASSERT_EQ(ChunkSeek(file, 0, SEEK_SET), 0);
  ChunkInfo form;
  ASSERT_TRUE(ChunkDescend(file, form, nullptr, 0));
  EXPECT_EQ(form.fccType, MakeFourCC("WAVE"));
  EXPECT_EQ(form.cksize, 43u);
  EXPECT_EQ(Tell(file), 12);
  ChunkInfo fmt = Chunk("fmt ");
  ChunkInfo data = Chunk("data");
  ASSERT_TRUE(ChunkDescend(file, fmt, &form, kChunkFind));
  EXPECT_EQ(fmt.cksize, 16u);
  EXPECT_EQ(Tell(file), 20);
  ASSERT_TRUE(ChunkAscend(file, fmt));
  ASSERT_TRUE(ChunkDescend(file, data, &form, kChunkFind));
  EXPECT_EQ(data.cksize, 3u);
  ASSERT_TRUE(ChunkAscend(file, data));
  EXPECT_EQ(Tell(file), 48);  // past the pad byte
  char rest[8] = {};
  EXPECT_EQ(ChunkRead(file, rest, 8), 4);  // "xyz" and the form's pad
  EXPECT_EQ(std::string(rest, 4), std::string("xyz\0", 4));
  EXPECT_EQ(ChunkRead(file, rest, 8), 0);
  ASSERT_EQ(ChunkSeek(file, 48, SEEK_SET), 48);
  EXPECT_FALSE(ChunkDescend(file, fmt, &form, kChunkFind));  // it lies behind
}

TEST(ChunkFileTest, WritesStandardWaveLayoutAndReadsItBack) {
  TempDir dir;
  const std::string path = dir.path + "/out.wav";
  for (const Bytes& tail : {Bytes{'x', 'y'}, Bytes{}, Bytes{'x', 'y', 'z'}}) {
    ChunkFilePtr file = CreateOnDisk(path);
    ASSERT_TRUE(file);
    WriteWave(*file, tail);
    if (tail.size() == 3) CheckWaveNavigation(*file);  // through unflushed writes
    ASSERT_TRUE(ChunkFileClose(std::move(file)));
    EXPECT_EQ(ReadWholeFile(path), ExpectedWave(tail)) << "tail of " << tail.size();
  }
  const Bytes image = ReadWholeFile(path);
  ChunkFilePtr memory = OpenChunkFileInMemory(image.data(), image.size());
  CheckWaveNavigation(*memory);
  EXPECT_FALSE(ChunkFileFailed(*memory));
}

TEST(ChunkFileTest, FindStaysWithinParentAndSkipsPads) {
  Bytes body;
  PutLe32(body, MakeFourCC("WAVE"));
  PutChunk(body, "odd1", Bytes{1});
  PutChunk(body, "odd3", Bytes{1, 2, 3});
  PutChunk(body, "zero", Bytes{});
  Bytes image = Form(body);
  PutChunk(image, "late", Bytes{7, 7});  // after the form's end
  PutChunk(image, "cut ", Bytes{});
  ChunkFilePtr file = OpenChunkFileInMemory(image.data(), image.size());
  ChunkInfo form;
  ASSERT_TRUE(ChunkDescend(*file, form, nullptr, 0));

  ChunkInfo wanted = Chunk("zero");
  ASSERT_TRUE(ChunkDescend(*file, wanted, &form, kChunkFind));
  EXPECT_EQ(wanted.dataOffset, 12 + 10 + 12 + 8);
  wanted = Chunk("late");
  ASSERT_EQ(ChunkSeek(*file, 12, SEEK_SET), 12);
  EXPECT_FALSE(ChunkDescend(*file, wanted, &form, kChunkFind));
  ASSERT_EQ(ChunkSeek(*file, 12, SEEK_SET), 12);
  ASSERT_TRUE(ChunkDescend(*file, wanted, nullptr, kChunkFind));
  EXPECT_EQ(wanted.dataOffset, 50);

  // A parent that ends inside a header never matches that header.
  ChunkInfo shortParent = form;
  shortParent.cksize = 34 + 10 + 4;
  wanted = Chunk("cut ");
  ASSERT_EQ(ChunkSeek(*file, 12, SEEK_SET), 12);
  EXPECT_FALSE(ChunkDescend(*file, wanted, &shortParent, kChunkFind));
  ASSERT_EQ(ChunkSeek(*file, 12, SEEK_SET), 12);
  EXPECT_TRUE(ChunkDescend(*file, wanted, nullptr, kChunkFind));
}

TEST(ChunkFileTest, MemoryFileNeverLeavesItsBlock) {
  Bytes image;
  for (uint32_t word : {MakeFourCC("RIFF"), 0xFFFFFFFFu, MakeFourCC("WAVE"), MakeFourCC("huge"), 0x7FFFFFFEu,
                        MakeFourCC("more"), 0xFFFFFFFFu})
    PutLe32(image, word);
  // An exactly sized heap block, so that any stray read trips ASan.
  auto block = std::make_unique<uint8_t[]>(image.size());
  std::copy(image.begin(), image.end(), block.get());
  ChunkFilePtr file = OpenChunkFileInMemory(block.get(), image.size());

  ChunkInfo form;
  ASSERT_TRUE(ChunkDescend(*file, form, nullptr, 0));
  ChunkInfo wanted = Chunk("none");
  EXPECT_FALSE(ChunkDescend(*file, wanted, &form, kChunkFind));
  ASSERT_EQ(ChunkSeek(*file, 20, SEEK_SET), 20);
  EXPECT_FALSE(ChunkDescend(*file, wanted, nullptr, kChunkFind));
  EXPECT_FALSE(ChunkFileFailed(*file));  // a fruitless search is no failure
  ASSERT_EQ(ChunkSeek(*file, 12, SEEK_SET), 12);
  wanted = Chunk("huge");
  ASSERT_TRUE(ChunkDescend(*file, wanted, &form, kChunkFind));
  EXPECT_EQ(wanted.cksize, 0x7FFFFFFEu);
  EXPECT_FALSE(ChunkAscend(*file, wanted));  // its end lies far past the block
  EXPECT_EQ(Tell(*file), 20);                // and the position stays

  uint8_t buffer[64];
  EXPECT_EQ(ChunkRead(*file, buffer, 64), 8);
  EXPECT_EQ(ChunkRead(*file, buffer, 64), 0);
  EXPECT_EQ(ChunkSeek(*file, 29, SEEK_SET), -1);
  EXPECT_EQ(ChunkSeek(*file, -29, SEEK_CUR), -1);
  EXPECT_EQ(ChunkSeek(*file, -4, SEEK_CUR), 24);
  ChunkInfo header;
  EXPECT_FALSE(ChunkDescend(*file, header, nullptr, 0));  // 4 of 8 bytes left

  ChunkInfo created = Chunk("new ");
  EXPECT_EQ(ChunkWrite(*file, "zz", 2), -1);
  EXPECT_FALSE(ChunkCreate(*file, created, 0));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), block.get()));
  EXPECT_TRUE(ChunkFileFailed(*file));

  ChunkFilePtr noFormType = OpenChunkFileInMemory(block.get(), 10);
  EXPECT_FALSE(ChunkDescend(*noFormType, header, nullptr, 0));
}

TEST(ChunkFileTest, DiskReadsBackWritesAcrossTheWindow) {
  TempDir dir;
  const std::string path = dir.path + "/raw.pcm";
  ChunkFilePtr file = CreateOnDisk(path);
  ASSERT_TRUE(file);
  Bytes expected(200000);
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<uint8_t>(i * 7 + i / 251);
  // Small buffered writes, then one that bypasses the buffer.
  for (size_t at = 0; at < 100000; at += 1000) ASSERT_EQ(ChunkWrite(*file, &expected[at], 1000), 1000);
  ASSERT_EQ(ChunkWrite(*file, &expected[100000], 100000), 100000);
  // Overwrite across the first window's end, and read that back unflushed.
  std::fill(&expected[65530], &expected[65550], 0xEE);
  ASSERT_EQ(ChunkSeek(*file, 65530, SEEK_SET), 65530);
  ASSERT_EQ(ChunkWrite(*file, &expected[65530], 20), 20);
  Bytes back(expected.size() + 10);
  ASSERT_EQ(ChunkSeek(*file, -25, SEEK_CUR), 65525);
  ASSERT_EQ(ChunkRead(*file, back.data(), 30), 30);
  EXPECT_TRUE(std::equal(&back[0], &back[30], &expected[65525]));

  ASSERT_EQ(ChunkSeek(*file, 0, SEEK_SET), 0);
  int32_t total = 0;
  for (int32_t got; (got = ChunkRead(*file, &back[total], 777)) > 0;) total += got;
  back.resize(static_cast<size_t>(total));
  EXPECT_EQ(back, expected);
  ASSERT_EQ(ChunkSeek(*file, 1, SEEK_SET), 1);
  ASSERT_EQ(ChunkRead(*file, back.data(), 150000), 150000);
  EXPECT_TRUE(std::equal(&back[0], &back[150000], &expected[1]));
  EXPECT_TRUE(ChunkFileClose(std::move(file)));
  EXPECT_EQ(ReadWholeFile(path), expected);
}

TEST(ChunkFileTest, DiskOpeningAndStickyFailure) {
  TempDir dir;
  const std::string path = dir.path + "/old.wav";
  std::ofstream(path) << "previous contents";
  EXPECT_FALSE(OpenChunkFileOnDisk(-1));
  EXPECT_FALSE(OpenChunkFileOnDisk(open(path.c_str(), O_RDONLY)));
  EXPECT_TRUE(ChunkFileClose(OpenChunkFileOnDisk(open(path.c_str(), O_RDWR))));
  EXPECT_TRUE(ReadWholeFile(path).empty());

  // /dev/full takes buffered bytes but fails when they are written out.
  ChunkFilePtr full = OpenChunkFileOnDisk(open("/dev/full", O_RDWR));
  ASSERT_TRUE(full);
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

  ChunkFilePtr badSeek = CreateOnDisk(dir.path + "/seek.wav");
  EXPECT_EQ(ChunkSeek(*badSeek, -1, SEEK_SET), -1);
  EXPECT_EQ(ChunkWrite(*badSeek, "ok", 2), 2);
  EXPECT_FALSE(ChunkFileClose(std::move(badSeek)));
}

}  // namespace
