#include "image/loader_header.h"

#include <gtest/gtest.h>

#include "app/update_app.h"
#include "support/unit_rig.h"
#include "unit/image_test_files.h"

namespace portflash::testing {
namespace {

const std::string kMark = Bytes({0xFF, 0xFF, 0xFF, 0xFF});
const std::string kNul(1, '\0');

struct HeaderCase {
  std::string bytes;
  const char* prefix;
  bool valid;
  std::string products;
  std::uint32_t skip;
};

void ExpectHeaders(const std::vector<HeaderCase>& cases) {
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.prefix << " " << c.bytes.size() << " bytes");
    const LoaderHeader header = ReadLoaderHeader(Stream(c.bytes).get(), c.prefix);
    EXPECT_EQ(header.valid, c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(header.products, c.products);
    EXPECT_EQ(header.skip, c.skip);
  }
}

// After four 0xFF: entries 'P', one unread byte, a NUL-terminated name; other bytes
// are passed over one by one, and the first 0xFF ends the area, which must lie in the
// 1000 bytes read. The skip passes the end byte; the prefix plays no part.
TEST(LoaderHeader, MarkedAreaListsTheNamesRunTogether) {
  const std::string name250(250, 'a'), name249(249, 'b');
  const std::string names499 = "P" + kNul + name250 + kNul + "P" + kNul + name249;
  ExpectHeaders({
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
  });
}

// A loader with the texts at offset x; the filler before it holds a NUL at every
// fourth offset and just before x, so that reading at a wrong offset finds other texts.
std::string FixedLoader(std::size_t x, const std::string& skipped, const std::string& list) {
  std::string bytes = "LDR1";
  while (bytes.size() < x)
    bytes.push_back(bytes.size() % 4 == 0 || bytes.size() + 1 == x ? '\0' : '#');
  return bytes + skipped + kNul + list + kNul + "body";
}

// Otherwise a skipped text and the product list start at an offset that the lowered
// prefix chooses; both texts must end in the 1000 bytes read.
TEST(LoaderHeader, FixedLayoutReadsTheListAfterTheSkippedTextAtThePrefixsOffset) {
  const std::string hpz = FixedLoader(1031, "", "ONE TWO"), kvr = FixedLoader(15, "", "ONE TWO");
  ExpectHeaders({
      {hpz, "HPZ", true, "ONE TWO", 0},
      {hpz, "jdq", true, "ONE TWO", 0},
      {hpz, "kvr", true, "###", 0},
      {kvr, "KVR", true, "ONE TWO", 0},
      {kvr, "tnw", true, "ONE TWO", 0},
      {kvr, "abc", true, "#", 0},
      {kvr, "hpzz", true, "#", 0},
      {kvr, nullptr, true, "#", 0},
      {FixedLoader(15, "Boot v2", "ONE TWO"), "kvr", true, "ONE TWO", 0},
      {FixedLoader(10, "", "LIST"), "abc", true, "LIST", 0},
      {std::string(1008, 'y') + Bytes({0, 0}), "abc", true, "", 0},
      {std::string(1010, 'y') + Bytes({0, 0}), "abc", false, "", 0},
      {std::string(10, 'x') + "skip" + kNul + "list", "abc", false, "", 0},
      {std::string(1030, 'x'), "hpz", false, "", 0},  // the file ends before the offset
  });
}

// The member operation: the list as a heap string, and the loader skip.
TEST(LoaderHeader, ReadLoaderProductsSetsTheSkipOnlyFromAGoodHeader) {
  EngineRig rig;
  CUpdateApp& app = rig.app;
  auto read = [&](const std::string& bytes) {
    app.SetLoaderPath(rig.WriteFile("kvr.ldr", bytes).c_str());
    return HeapString(app.ReadLoaderProducts());
  };
  EXPECT_STREQ(read(MarkedLoader({"NIMBREL7010", "NIMBREL7020"})).get(), "NIMBREL7010NIMBREL7020");
  EXPECT_EQ(app.GetLoaderSkip(), 4u + 14 + 14 + 1);
  EXPECT_STREQ(read(kMark + "\xFF").get(), " ");
  EXPECT_EQ(app.GetLoaderSkip(), 5u);
  EXPECT_TRUE(rig.dialogs.messages.empty());

  app.SetLoaderSkip(77);
  EXPECT_EQ(read(kMark + "PP"), nullptr);
  EXPECT_EQ(rig.dialogs.messages,
            std::vector<std::string>{"The loader file " + rig.Path("kvr.ldr") +
                                     " has no valid product header"});
  for (const std::string& path : {rig.Path("none.ldr"), rig.dir}) {
    app.SetLoaderPath(path.c_str());
    EXPECT_EQ(app.ReadLoaderProducts(), nullptr);
  }
  EXPECT_EQ(app.GetLoaderSkip(), 77u);
  EXPECT_EQ(rig.dialogs.messages.size(), 1u);  // a missing loader is no error here
}

}  // namespace
}  // namespace portflash::testing
