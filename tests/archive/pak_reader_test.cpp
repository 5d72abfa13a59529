#include "archive/pak_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/byte_order.h"

namespace unpak {

// Archives are built by hand here, independently of the writer, so that a
// writer fault cannot hide a reader fault.
namespace {

using Bytes = std::vector<uint8_t>;

TEST(PakReader, HeaderAndTableMustFitTheFile) {
  // The reason must start with the text; an empty one means the header is
  // read, and then it must hold the stated fields.
  const struct {
    uint32_t count, table;
    size_t size;
    const char* reason;
  } cases[] = {
      {0, 0, 15, "too short for an archive header (15 bytes)"},
      {0, 0xFFFFFFFFu, 16, ""},  // no entries: the table offset does not matter
      {1, 16, 49,
       "entry table (1 entries of 34 bytes at offset 16) runs past the end of the "
       "file (49 bytes)"},
      {1, 16, 50, ""},
      {4000000000u, 16, 4096, "entry table (4000000000 entries"},
      {126322568u, 16, 64, "entry table"},  // times 34 is 2^32 + 16
      {1, 0xFFFFFFF0u, 64, "entry table"},  // offset plus 34 wraps past 2^32
  };
  for (const auto& c : cases) {
    // A header of `count` entries with the table at `table`, in a file of `size` bytes.
    Bytes bytes(std::max<size_t>(c.size, 16));
    StoreLe32(&bytes[4], c.count);
    StoreLe32(&bytes[8], c.table);
    bytes.resize(c.size);
    PakHeader header;
    std::string reason;
    const bool read = ReadPakHeader(bytes.data(), bytes.size(), &header, &reason);
    SCOPED_TRACE(testing::Message()
                 << c.count << " entries at " << c.table << " in " << c.size << " bytes");
    if (*c.reason == '\0') {
      EXPECT_TRUE(read) << reason;
      EXPECT_EQ(header.entryCount, c.count);
      EXPECT_EQ(header.entryTableOffset, c.table);
    } else {
      EXPECT_FALSE(read);
      EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
    }
  }
}

TEST(PakReader, EntriesMustLieInsideTheFile) {
  // Only the name table matters here: "a.wav" at offset 50 of a 56-byte file,
  // a name that every entry that resolves shares.
  Bytes bytes(50);
  for (char c : std::string("a.wav") + '\0') bytes.push_back(uint8_t(c));
  // The name table's offset, the entry's fields, bytes cut off the file, the
  // reason's start; an empty one means the entry resolves to its name and
  // payload.
  const struct {
    uint32_t names, name, offset, size, cbSize, cut;
    const char* reason;
  } cases[] = {
      {50, 0, 50, 6, 0, 0, ""},
      {50, 0, 56, 0, 4, 0, ""},  // an empty payload at the very end; cbSize 4 fits
      {50, 6, 0, 1, 0, 0, "name at offset 56 lies past the end"},
      {0xFFFFFFF0u, 0x10 + 50, 0, 1, 0, 0, "name at offset 4294967346 lies past"},  // not 50
      {50, 0, 0, 1, 0, 1, "name at offset 50 is not terminated inside the file"},
      {50, 0, 50, 7, 0, 0, "payload (7 bytes at offset 50) runs past the end"},
      {50, 0, 57, 0, 0, 0, "payload (0 bytes at offset 57)"},
      {50, 0, 0xFFFFFFFFu, 2, 0, 0, "payload (2 bytes at offset 4294967295)"},
      {50, 0, 0, 1, 5, 0, "target format's cbSize 5 does not fit the 22-byte field"},
  };
  for (const auto& c : cases) {
    PakHeader header;
    header.nameTableOffset = c.names;
    PakEntry entry{c.offset, c.name, c.size};
    entry.targetFormat[16] = uint8_t(c.cbSize);
    EntryView view;
    std::string reason;
    const size_t size = bytes.size() - c.cut;
    const bool ok = ResolvePakEntry(bytes.data(), size, header, entry, &view, &reason);
    SCOPED_TRACE(c.reason);
    if (*c.reason == '\0') {
      ASSERT_TRUE(ok) << reason;
      EXPECT_STREQ(view.path, "a.wav");
      EXPECT_EQ(view.payload, bytes.data() + c.offset);
      EXPECT_EQ(view.payloadSize, c.size);
      EXPECT_EQ(view.targetFormat, entry.targetFormat);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << reason;
    }
  }
}

}  // namespace

}  // namespace unpak
