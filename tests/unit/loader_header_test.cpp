#include "image/loader_header.h"

#include <gtest/gtest.h>

#include <tuple>

#include "unit/image_test_files.h"

namespace portflash::testing {
namespace {

const std::string kMark = Bytes({0xFF, 0xFF, 0xFF, 0xFF});
const std::string kNul(1, '\0');

// A loader with the texts at offset x; the filler before it holds a NUL at every
// fourth offset and just before x, so that reading at a wrong offset finds other texts.
std::string FixedLoader(std::size_t x, const std::string& skipped, const std::string& list) {
  std::string bytes = "LDR1";
  while (bytes.size() < x)
    bytes.push_back(bytes.size() % 4 == 0 || bytes.size() + 1 == x ? '\0' : '#');
  return bytes + skipped + kNul + list + kNul + "body";
}

// After four 0xFF: entries 'P', one unread byte, a NUL-terminated name; other bytes
// are passed over one by one, and the first 0xFF ends the area, which must lie in the
// 1000 bytes read. The skip passes the end byte; the prefix plays no part.
// Otherwise a skipped text and the product list start at an offset that the lowered
// prefix chooses; both texts must end in the 1000 bytes read.
TEST(LoaderHeader, MarkedAreaElseFixedLayoutAtThePrefixsOffset) {
  const std::string name250(250, 'a'), name249(249, 'b');
  const std::string names499 = "P" + kNul + name250 + kNul + "P" + kNul + name249;
  const std::string hpz = FixedLoader(1031, "", "ONE TWO"), kvr = FixedLoader(15, "", "ONE TWO");
  // the bytes, the prefix, whether valid, and if so the names and the skip
  const std::tuple<std::string, const char*, bool, std::string, std::uint32_t> cases[] = {
      {kMark + Bytes({0xFF, 0x50, 0x00, 'A', 0x00}), "kvr", true, "", 5},
      // The byte after the mark is not tested, and a name may hold 0xFF.
      {kMark + Bytes({0x50, 0xFF, 'A', 0, 0x50, 0x50, 0xFF, 0, 0xFF}), "", true, "A\xFF", 13},
      {kMark + Bytes({0x50, 0, 'A', 0, 0x07, 0x50, 0x50, 'B', 0, 0xFF}), "kvr", true, "AB", 14},
      {kMark + Bytes({0x50, 0, 'A', 0, 0xFF, 0x50, 0, 'B', 0, 0xFF}), "kvr", true, "A", 9},
      {kMark + std::string(999, '\x01') + "\xFF", "kvr", true, "", 1004},
      {kMark + names499 + kNul + "\xFF", "kvr", true, name250 + name249, 4 + 505 + 1},
      {kMark + names499 + "b" + kNul + "\xFF", "kvr", false, "", 0},  // 500 characters
      {kMark + std::string(1000, '\x01') + "\xFF", "kvr", false, "", 0},
      {kMark + Bytes({0x50, 0x00, 'A', 'B'}), "kvr", false, "", 0},
      {kMark + Bytes({0x50, 0x00, 'A', 0x00}), "kvr", false, "", 0},
      {"\xFF\xFF\xFF", "kvr", false, "", 0},
      {hpz, "HPZ", true, "ONE TWO", 0},
      {hpz, "jdq", true, "ONE TWO", 0},
      {hpz, "kvr", true, "###", 0},
      {kvr, "KVR", true, "ONE TWO", 0},
      {kvr, "tnw", true, "ONE TWO", 0},
      {kvr, "hpzz", true, "#", 0},
      {kvr, nullptr, true, "#", 0},
      {FixedLoader(15, "Boot v2", "ONE TWO"), "kvr", true, "ONE TWO", 0},
      {FixedLoader(10, "", "LIST"), "abc", true, "LIST", 0},
      {std::string(1008, 'y') + Bytes({0, 0}), "abc", true, "", 0},
      {std::string(1010, 'y') + Bytes({0, 0}), "abc", false, "", 0},
      {std::string(10, 'x') + "skip" + kNul + "list", "abc", false, "", 0},
      {std::string(1030, 'x'), "hpz", false, "", 0},  // the file ends before the offset
  };
  for (const auto& [bytes, prefix, valid, products, skip] : cases) {
    SCOPED_TRACE(::testing::Message() << prefix << " " << bytes.size() << " bytes");
    const LoaderHeader header = ReadLoaderHeader(Stream(bytes).get(), prefix);
    EXPECT_EQ(header.valid, valid);
    if (!valid) continue;
    EXPECT_EQ(header.products, products);
    EXPECT_EQ(header.skip, skip);
  }
}

}  // namespace
}  // namespace portflash::testing
