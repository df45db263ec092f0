#include "image/loader_header.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "app/update_app.h"
#include "support/fakes.h"
#include "unit/image_test_files.h"

namespace portflash {
namespace {

using testing::Bytes;

LoaderHeader Parse(const std::string& bytes, const char* prefix = "kvr") {
  return ReadLoaderHeader(testing::Stream(bytes).get(), prefix);
}

const std::string kMark = Bytes({0xFF, 0xFF, 0xFF, 0xFF});

TEST(MarkedHeader, AreaStartingWithEndByteIsEmpty) {
  LoaderHeader header = Parse(kMark + Bytes({0xFF, 0x50, 0x00, 'A', 0x00}));
  ASSERT_TRUE(header.valid);
  EXPECT_EQ(header.products, "");
  EXPECT_EQ(header.skip, 5u);
}

TEST(MarkedHeader, NamesRunTogetherAndSkipPassesTheEndByte) {
  LoaderHeader header =
      Parse(kMark + Bytes({0x50, 0x00, 0x41, 0x42, 0x00, 0x50, 0x00, 0x43, 0x00, 0xFF}) + "body");
  ASSERT_TRUE(header.valid);
  EXPECT_EQ(header.products, "ABC");
  EXPECT_EQ(header.skip, 14u);
}

TEST(MarkedHeader, ByteAfterEntryMarkAndNameBytesAreNotTested) {
  // 50 FF 41 00: the FF after the mark is not an end; a name may hold FF too.
  LoaderHeader header =
      Parse(kMark + Bytes({0x50, 0xFF, 0x41, 0x00, 0x50, 0x50, 0xFF, 0x00, 0xFF}));
  ASSERT_TRUE(header.valid);
  EXPECT_EQ(header.products, "A\xFF");
  EXPECT_EQ(header.skip, 13u);
}

TEST(MarkedHeader, BytesBetweenEntriesArePassedOverOneByOne) {
  // 07 is passed over; the 50 that follows starts an entry whose unread byte is 50.
  EXPECT_EQ(
      Parse(kMark + Bytes({0x50, 0x00, 'A', 0x00, 0x07, 0x50, 0x50, 'B', 0x00, 0xFF})).products,
      "AB");
  // A stray FF ends the area early.
  LoaderHeader header =
      Parse(kMark + Bytes({0x50, 0x00, 'A', 0x00, 0xFF, 0x50, 0x00, 'B', 0x00, 0xFF}));
  EXPECT_EQ(header.products, "A");
  EXPECT_EQ(header.skip, 9u);
}

TEST(MarkedHeader, PrefixPlaysNoPart) {
  std::string bytes = kMark + Bytes({0x50, 0x00, 'X', 0x00, 0xFF});
  for (const char* prefix : {"hpz", "KVR", "abc", ""}) {
    EXPECT_EQ(Parse(bytes, prefix).products, "X") << prefix;
    EXPECT_EQ(Parse(bytes, prefix).skip, 9u) << prefix;
  }
}

TEST(MarkedHeader, EndByteMustLieInTheBytesRead) {
  const std::string bad[] = {
      kMark,                                       // no area at all
      kMark + Bytes({0x01, 0x02}),                 // area without an end byte
      kMark + Bytes({0x50}),                       // entry mark at the end
      kMark + Bytes({0x50, 0x00}),                 // no name
      kMark + Bytes({0x50, 0x00, 'A', 'B'}),       // name without its NUL
      kMark + Bytes({0x50, 0x00, 'A', 0x00}),      // no end byte after the entry
      kMark + std::string(1000, '\x01') + "\xFF",  // end byte just past the window
  };
  for (const std::string& bytes : bad) {
    EXPECT_FALSE(Parse(bytes).valid) << bytes.size() << " bytes";
  }
  LoaderHeader header = Parse(kMark + std::string(999, '\x01') + "\xFF");
  EXPECT_TRUE(header.valid) << "end byte as the window's last byte";
  EXPECT_EQ(header.skip, 1004u);
}

TEST(MarkedHeader, NamesMayTotal499Characters) {
  std::string first(250, 'a'), second(249, 'b');
  std::string bytes =
      kMark + "P" + Bytes({0}) + first + Bytes({0}) + "P" + Bytes({0}) + second + Bytes({0});
  LoaderHeader header = Parse(bytes + "\xFF");
  ASSERT_TRUE(header.valid);
  EXPECT_EQ(header.products, first + second);
  bytes =
      kMark + "P" + Bytes({0}) + first + Bytes({0}) + "P" + Bytes({0}) + second + "b" + Bytes({0});
  EXPECT_FALSE(Parse(bytes + "\xFF").valid);
}

TEST(FixedHeader, OffsetFollowsTheLowerCasePrefix) {
  EXPECT_EQ(LoaderProductOffset("hpz"), 1031u);
  EXPECT_EQ(LoaderProductOffset("HPZ"), 1031u);
  EXPECT_EQ(LoaderProductOffset("jDq"), 1031u);
  EXPECT_EQ(LoaderProductOffset("kvr"), 15u);
  EXPECT_EQ(LoaderProductOffset("KVR"), 15u);
  EXPECT_EQ(LoaderProductOffset("tnw"), 15u);
  EXPECT_EQ(LoaderProductOffset("hp"), 10u);
  EXPECT_EQ(LoaderProductOffset("hpzz"), 10u);
  EXPECT_EQ(LoaderProductOffset(" "), 10u);
  EXPECT_EQ(LoaderProductOffset(nullptr), 10u);
}

// A loader with the texts at offset x; the filler before it holds a NUL at every
// fourth offset, so that reading at the wrong offset finds other texts.
std::string FixedLoader(std::size_t x, const std::string& skipped, const std::string& list) {
  std::string bytes = "LDR1";
  while (bytes.size() < x) bytes.push_back(bytes.size() % 4 == 0 ? '\0' : '#');
  return bytes + skipped + Bytes({0}) + list + Bytes({0}) + "body";
}

TEST(FixedHeader, ListFollowsTheSkippedTextAtEachOffset) {
  struct Case {
    const char* prefix;
    std::size_t offset;
  };
  for (Case c :
       {Case{"HPZ", 1031}, Case{"hpz", 1031}, Case{"KVR", 15}, Case{"tnw", 15}, Case{"zzz", 10}}) {
    LoaderHeader header = Parse(FixedLoader(c.offset, "Boot v2", "ONE TWO"), c.prefix);
    ASSERT_TRUE(header.valid) << c.prefix;
    EXPECT_EQ(header.products, "ONE TWO") << c.prefix;
    EXPECT_EQ(header.skip, 0u) << c.prefix;
  }
  // The kvr layout read with another prefix starts at offset 10, inside the filler.
  EXPECT_EQ(Parse(FixedLoader(15, "Boot v2", "ONE TWO"), "abc").products, "##Boot v2");
  EXPECT_EQ(Parse(FixedLoader(1031, "Boot v2", "ONE TWO"), "kvr").products, "###");
}

TEST(FixedHeader, LeadingNulMeansAnEmptySkippedText) {
  LoaderHeader header = Parse(FixedLoader(10, "", "LIST"), "abc");
  ASSERT_TRUE(header.valid);
  EXPECT_EQ(header.products, "LIST");
  header = Parse(FixedLoader(10, "", ""), "abc");
  ASSERT_TRUE(header.valid);
  EXPECT_EQ(header.products, "");
}

TEST(FixedHeader, BothTextsMustEndInTheWindow) {
  EXPECT_FALSE(Parse(std::string(10, 'x') + std::string(1000, 'y') + Bytes({0, 0}), "abc").valid);
  EXPECT_FALSE(Parse(std::string(10, 'x') + std::string(999, 'y') + Bytes({0}) + "L", "abc").valid);
  EXPECT_FALSE(Parse(std::string(10, 'x') + "skip" + Bytes({0}) + "list", "abc").valid);
  EXPECT_FALSE(Parse(std::string(1030, 'x'), "hpz").valid) << "file ends before the offset";
  LoaderHeader header = Parse(std::string(10, 'x') + std::string(998, 'y') + Bytes({0, 0}), "abc");
  EXPECT_TRUE(header.valid) << "list NUL as the window's last byte";
  EXPECT_EQ(header.products, "");
}

TEST(LoaderHeader, FilesShorterThanTheMarkAreMalformed) {
  for (std::size_t size = 0; size < 4; ++size) {
    EXPECT_FALSE(Parse(std::string(size, '\xFF')).valid) << size;
  }
}

// The member operation: files, messages and the loader skip.
class LoaderProducts : public ::testing::Test {
 protected:
  char* Read(const std::string& bytes) {
    std::string path = dir_.Write("kvr.ldr", bytes);
    app_.SetLoaderPath(path.c_str());
    return app_.ReadLoaderProducts();
  }
  testing::TempDir dir_;
  testing::MapProfile profile_;
  testing::RecordingDialogs dialogs_;
  CUpdateApp app_{profile_, dialogs_};
};

TEST_F(LoaderProducts, GoodHeaderGivesHeapListAndSkip) {
  HeapString list(Read(testing::MarkedLoader({"NIMBREL7010", "NIMBREL7020"})));
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list.get(), "NIMBREL7010NIMBREL7020");
  EXPECT_EQ(app_.GetLoaderSkip(), 4u + 14 + 14 + 1);
  HeapString empty(Read(kMark + "\xFF"));
  EXPECT_STREQ(empty.get(), " ");
  EXPECT_EQ(app_.GetLoaderSkip(), 5u);
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(LoaderProducts, MissingLoaderGivesNullAndKeepsSkip) {
  app_.SetLoaderSkip(77);
  app_.SetLoaderPath(dir_.Path("none.ldr").c_str());
  EXPECT_EQ(app_.ReadLoaderProducts(), nullptr);
  app_.SetLoaderPath(dir_.Dir().c_str());
  EXPECT_EQ(app_.ReadLoaderProducts(), nullptr);
  EXPECT_EQ(app_.GetLoaderSkip(), 77u);
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(LoaderProducts, MalformedHeaderIsReportedAndKeepsSkip) {
  app_.SetLoaderSkip(77);
  EXPECT_EQ(Read(kMark + "PP"), nullptr);
  EXPECT_EQ(app_.GetLoaderSkip(), 77u);
  EXPECT_EQ(dialogs_.messages, std::vector<std::string>{"The loader file " + dir_.Path("kvr.ldr") +
                                                        " has no valid product header"});
}

}  // namespace
}  // namespace portflash
