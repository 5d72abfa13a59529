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

void PutFourCC(Bytes& out, const char (&code)[5]) { PutLe32(out, MakeFourCC(code)); }

void PutChunk(Bytes& out, const char (&code)[5], const Bytes& data) {
  PutFourCC(out, code);
  PutLe32(out, static_cast<uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  if (data.size() & 1) out.push_back(0);
}

int64_t Tell(ChunkFile& file) { return ChunkSeek(file, 0, SEEK_CUR); }

// A WAVE file: 16-byte "fmt ", 3-byte "data" (padded), then `tail` raw bytes.
void WriteWave(ChunkFile& file, const Bytes& tail) {
  ChunkInfo form;
  form.fccType = MakeFourCC("WAVE");
  ASSERT_TRUE(ChunkCreate(file, form, kChunkCreateRiff));
  EXPECT_EQ(form.dataOffset, 8);
  EXPECT_EQ(Tell(file), 12);
  ChunkInfo fmt;
  fmt.ckid = MakeFourCC("fmt ");
  fmt.cksize = 99;  // wrong on purpose: fixed on ascend
  ASSERT_TRUE(ChunkCreate(file, fmt, 0));
  const Bytes format(16, 0x11);
  ASSERT_EQ(ChunkWrite(file, format.data(), 16), 16);
  ASSERT_TRUE(ChunkAscend(file, fmt));
  EXPECT_EQ(fmt.cksize, 16u);
  ChunkInfo data;
  data.ckid = MakeFourCC("data");
  ASSERT_TRUE(ChunkCreate(file, data, 0));
  EXPECT_EQ(data.dataOffset, 44);
  ASSERT_EQ(ChunkWrite(file, "abc", 3), 3);
  ASSERT_TRUE(ChunkAscend(file, data));
  EXPECT_EQ(Tell(file), 48);
  ASSERT_EQ(ChunkWrite(file, tail.data(), static_cast<int32_t>(tail.size())),
            static_cast<int32_t>(tail.size()));
  ASSERT_TRUE(ChunkAscend(file, form));
}

Bytes ExpectedWave(const Bytes& tail) {
  Bytes body;
  PutFourCC(body, "WAVE");
  PutChunk(body, "fmt ", Bytes(16, 0x11));
  PutChunk(body, "data", Bytes{'a', 'b', 'c'});
  body.insert(body.end(), tail.begin(), tail.end());
  Bytes file;
  PutFourCC(file, "RIFF");
  PutLe32(file, static_cast<uint32_t>(body.size()));
  file.insert(file.end(), body.begin(), body.end());
  if (body.size() & 1) file.push_back(0);
  return file;
}

// Walks the file WriteWave produced with tail "xyz", reading and searching.
void CheckWaveNavigation(ChunkFile& file) {
  ASSERT_EQ(ChunkSeek(file, 0, SEEK_SET), 0);
  ChunkInfo form;
  ASSERT_TRUE(ChunkDescend(file, form, nullptr, 0));
  EXPECT_EQ(form.ckid, MakeFourCC("RIFF"));
  EXPECT_EQ(form.fccType, MakeFourCC("WAVE"));
  EXPECT_EQ(form.cksize, 43u);
  EXPECT_EQ(Tell(file), 12);
  ChunkInfo fmt;
  fmt.ckid = MakeFourCC("fmt ");
  ASSERT_TRUE(ChunkDescend(file, fmt, &form, kChunkFind));
  EXPECT_EQ(fmt.cksize, 16u);
  EXPECT_EQ(fmt.dataOffset, 20);
  ASSERT_TRUE(ChunkAscend(file, fmt));
  ChunkInfo data;
  data.ckid = MakeFourCC("data");
  ASSERT_TRUE(ChunkDescend(file, data, &form, kChunkFind));
  EXPECT_EQ(data.cksize, 3u);
  EXPECT_EQ(Tell(file), 44);
  ASSERT_TRUE(ChunkAscend(file, data));
  EXPECT_EQ(Tell(file), 48);  // past the pad byte
  uint8_t rest[8] = {};
  EXPECT_EQ(ChunkRead(file, rest, 8), 4);  // "xyz" and the form's pad
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rest), 4), std::string("xyz\0", 4));
  EXPECT_EQ(ChunkRead(file, rest, 8), 0);
  ASSERT_EQ(ChunkSeek(file, 48, SEEK_SET), 48);
  EXPECT_FALSE(ChunkDescend(file, fmt, &form, kChunkFind));  // "fmt " lies behind
}

TEST(ChunkFileTest, WritesWaveLayoutWithFixedSizesAndPads) {
  TempDir dir;
  for (const Bytes& tail : {Bytes{'x', 'y', 'z'}, Bytes{'x', 'y'}, Bytes{}}) {
    const std::string path = dir.path + "/out.wav";
    ChunkFilePtr file = CreateOnDisk(path);
    ASSERT_TRUE(file);
    WriteWave(*file, tail);
    EXPECT_FALSE(ChunkFileFailed(*file));
    ASSERT_TRUE(ChunkFileClose(std::move(file)));
    EXPECT_EQ(ReadWholeFile(path), ExpectedWave(tail)) << "tail of " << tail.size();
  }
}

TEST(ChunkFileTest, NavigatesWrittenWaveOnDiskAndInMemory) {
  TempDir dir;
  const std::string path = dir.path + "/out.wav";
  ChunkFilePtr disk = CreateOnDisk(path);
  ASSERT_TRUE(disk);
  WriteWave(*disk, Bytes{'x', 'y', 'z'});
  CheckWaveNavigation(*disk);  // reads through unflushed writes
  ASSERT_TRUE(ChunkFileClose(std::move(disk)));
  const Bytes image = ReadWholeFile(path);
  ChunkFilePtr memory = OpenChunkFileInMemory(image.data(), image.size());
  CheckWaveNavigation(*memory);
  EXPECT_FALSE(ChunkFileFailed(*memory));
}

TEST(ChunkFileTest, FindStaysWithinParentAndSkipsPads) {
  Bytes inner;
  PutFourCC(inner, "WAVE");
  PutChunk(inner, "odd1", Bytes{1});
  PutChunk(inner, "odd3", Bytes{1, 2, 3});
  PutChunk(inner, "zero", Bytes{});
  Bytes image;
  PutFourCC(image, "RIFF");
  PutLe32(image, static_cast<uint32_t>(inner.size()));
  image.insert(image.end(), inner.begin(), inner.end());
  PutChunk(image, "late", Bytes{7, 7});  // after the form's end
  PutChunk(image, "part", Bytes{});
  ChunkFilePtr file = OpenChunkFileInMemory(image.data(), image.size());
  ChunkInfo form;
  ASSERT_TRUE(ChunkDescend(*file, form, nullptr, 0));

  ChunkInfo wanted;
  wanted.ckid = MakeFourCC("zero");
  ASSERT_TRUE(ChunkDescend(*file, wanted, &form, kChunkFind));
  EXPECT_EQ(wanted.dataOffset, 12 + 10 + 12 + 8);
  EXPECT_EQ(wanted.cksize, 0u);

  ASSERT_EQ(ChunkSeek(*file, 12, SEEK_SET), 12);
  wanted.ckid = MakeFourCC("late");
  EXPECT_FALSE(ChunkDescend(*file, wanted, &form, kChunkFind));
  ASSERT_EQ(ChunkSeek(*file, 12, SEEK_SET), 12);
  EXPECT_TRUE(ChunkDescend(*file, wanted, nullptr, kChunkFind));
  EXPECT_EQ(wanted.dataOffset, static_cast<int64_t>(8 + inner.size() + 8));

  // A parent whose end cuts a header: the cut header is never matched.
  ChunkInfo shortParent = form;
  shortParent.cksize = static_cast<uint32_t>(inner.size() + 10 + 4);
  ASSERT_EQ(ChunkSeek(*file, 12, SEEK_SET), 12);
  wanted.ckid = MakeFourCC("part");
  EXPECT_FALSE(ChunkDescend(*file, wanted, &shortParent, kChunkFind));
  ASSERT_EQ(ChunkSeek(*file, 12, SEEK_SET), 12);
  EXPECT_TRUE(ChunkDescend(*file, wanted, nullptr, kChunkFind));
}

TEST(ChunkFileTest, MemoryFileNeverLeavesItsBlock) {
  Bytes image;
  PutFourCC(image, "RIFF");
  PutLe32(image, 0xFFFFFFFFu);
  PutFourCC(image, "WAVE");
  PutFourCC(image, "huge");
  PutLe32(image, 0xFFFFFFFEu);
  PutFourCC(image, "more");
  PutLe32(image, 0xFFFFFFFFu);
  // An exactly sized heap block, so any stray read is caught by ASan.
  auto block = std::make_unique<uint8_t[]>(image.size());
  std::copy(image.begin(), image.end(), block.get());
  const Bytes original = image;
  ChunkFilePtr file = OpenChunkFileInMemory(block.get(), image.size());

  ChunkInfo form;
  ASSERT_TRUE(ChunkDescend(*file, form, nullptr, 0));
  ChunkInfo wanted;
  wanted.ckid = MakeFourCC("none");
  EXPECT_FALSE(ChunkDescend(*file, wanted, &form, kChunkFind));
  ASSERT_EQ(ChunkSeek(*file, 12, SEEK_SET), 12);
  wanted.ckid = MakeFourCC("huge");
  ASSERT_TRUE(ChunkDescend(*file, wanted, &form, kChunkFind));
  EXPECT_EQ(wanted.cksize, 0xFFFFFFFEu);
  EXPECT_FALSE(ChunkAscend(*file, wanted));  // its end lies far past the block
  EXPECT_EQ(Tell(*file), 20);                // a failed seek does not move

  uint8_t buffer[64];
  EXPECT_EQ(ChunkRead(*file, buffer, 64), 8);
  EXPECT_EQ(ChunkRead(*file, buffer, 64), 0);
  EXPECT_EQ(ChunkSeek(*file, 28, SEEK_SET), 28);
  EXPECT_EQ(ChunkSeek(*file, 29, SEEK_SET), -1);
  EXPECT_EQ(ChunkSeek(*file, -29, SEEK_CUR), -1);
  EXPECT_EQ(ChunkSeek(*file, -4, SEEK_CUR), 24);
  ChunkInfo cut;
  EXPECT_FALSE(ChunkDescend(*file, cut, nullptr, 0));  // 4 bytes left of 8

  EXPECT_EQ(ChunkWrite(*file, "zz", 2), -1);
  ChunkInfo created;
  created.ckid = MakeFourCC("new ");
  EXPECT_FALSE(ChunkCreate(*file, created, 0));
  EXPECT_TRUE(std::equal(original.begin(), original.end(), block.get()));
  EXPECT_TRUE(ChunkFileFailed(*file));

  ChunkFilePtr truncatedForm = OpenChunkFileInMemory(block.get(), 10);
  EXPECT_FALSE(ChunkDescend(*truncatedForm, cut, nullptr, 0));  // no room for the type
}

TEST(ChunkFileTest, DiskReadsBackWritesAcrossTheWindow) {
  TempDir dir;
  const std::string path = dir.path + "/raw.pcm";
  ChunkFilePtr file = CreateOnDisk(path);
  ASSERT_TRUE(file);
  Bytes expected(200000);
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<uint8_t>(i * 7 + i / 251);
  // Small buffered writes, then one large write that bypasses the buffer.
  size_t written = 0;
  for (; written < 100000; written += 1000) ASSERT_EQ(ChunkWrite(*file, &expected[written], 1000), 1000);
  ASSERT_EQ(ChunkWrite(*file, &expected[written], 100000), 100000);
  // Overwrite a range straddling the window size, without flushing.
  ASSERT_EQ(ChunkSeek(*file, 65530, SEEK_SET), 65530);
  for (size_t i = 65530; i < 65550; ++i) expected[i] = 0xEE;
  ASSERT_EQ(ChunkWrite(*file, &expected[65530], 20), 20);
  uint8_t middle[30];
  ASSERT_EQ(ChunkSeek(*file, 65525, SEEK_SET), 65525);
  ASSERT_EQ(ChunkRead(*file, middle, 30), 30);
  EXPECT_TRUE(std::equal(middle, middle + 30, expected.begin() + 65525));

  Bytes back(expected.size() + 10);
  ASSERT_EQ(ChunkSeek(*file, 0, SEEK_SET), 0);
  int32_t total = 0;
  for (int32_t got; (got = ChunkRead(*file, &back[total], 777)) > 0;) total += got;
  ASSERT_EQ(total, static_cast<int32_t>(expected.size()));
  back.resize(expected.size());
  EXPECT_EQ(back, expected);
  ASSERT_EQ(ChunkSeek(*file, 1, SEEK_SET), 1);
  Bytes large(150000);
  ASSERT_EQ(ChunkRead(*file, large.data(), 150000), 150000);
  EXPECT_TRUE(std::equal(large.begin(), large.end(), expected.begin() + 1));

  EXPECT_TRUE(ChunkFileClose(std::move(file)));
  EXPECT_EQ(ReadWholeFile(path), expected);
}

TEST(ChunkFileTest, DiskOpeningAndStickyFailure) {
  TempDir dir;
  const std::string path = dir.path + "/old.wav";
  {
    std::ofstream old(path, std::ios::binary);
    old << "previous contents";
  }
  EXPECT_FALSE(OpenChunkFileOnDisk(-1));
  EXPECT_FALSE(OpenChunkFileOnDisk(open(path.c_str(), O_RDONLY)));
  ChunkFilePtr emptied = OpenChunkFileOnDisk(open(path.c_str(), O_RDWR));
  ASSERT_TRUE(emptied);
  EXPECT_TRUE(ChunkFileClose(std::move(emptied)));
  EXPECT_TRUE(ReadWholeFile(path).empty());

  // /dev/full accepts buffered bytes but fails when they are written out.
  ChunkFilePtr full = OpenChunkFileOnDisk(open("/dev/full", O_RDWR));
  ASSERT_TRUE(full);
  EXPECT_EQ(ChunkWrite(*full, "abcd", 4), 4);
  EXPECT_FALSE(ChunkFileFailed(*full));
  EXPECT_FALSE(ChunkFlush(*full));
  EXPECT_TRUE(ChunkFileFailed(*full));
  EXPECT_TRUE(ChunkFlush(*full));  // nothing left to write; the failure stays
  EXPECT_TRUE(ChunkFileFailed(*full));
  EXPECT_FALSE(ChunkFileClose(std::move(full)));

  ChunkFilePtr failsOnClose = OpenChunkFileOnDisk(open("/dev/full", O_RDWR));
  ASSERT_TRUE(failsOnClose);
  EXPECT_EQ(ChunkWrite(*failsOnClose, "abcd", 4), 4);
  EXPECT_FALSE(ChunkFileClose(std::move(failsOnClose)));

  ChunkFilePtr large = OpenChunkFileOnDisk(open("/dev/full", O_RDWR));
  const Bytes block(100000, 1);
  EXPECT_EQ(ChunkWrite(*large, block.data(), 100000), -1);
  EXPECT_TRUE(ChunkFileFailed(*large));

  ChunkFilePtr badSeek = CreateOnDisk(dir.path + "/seek.wav");
  EXPECT_EQ(ChunkSeek(*badSeek, -1, SEEK_SET), -1);
  EXPECT_EQ(ChunkWrite(*badSeek, "ok", 2), 2);
  EXPECT_FALSE(ChunkFileClose(std::move(badSeek)));
}

}  // namespace
