#include "engine/strings.h"

#include <gtest/gtest.h>

#include <cstring>

namespace portflash {
namespace {

TEST(DupString, CopiesAndTurnsEmptyIntoOneBlank) {
  HeapString copy(DupString("agent"));
  EXPECT_STREQ(copy.get(), "agent");
  HeapString empty(DupString(""));
  EXPECT_STREQ(empty.get(), " ");
  EXPECT_EQ(DupString(nullptr), nullptr);
  FreeString(nullptr);  // must not crash
}

TEST(CopyLeft, TakesAtMostCountCharactersAndAlwaysTerminates) {
  HeapString three(CopyLeft("kvr0001.bin", 3));
  EXPECT_STREQ(three.get(), "kvr");
  HeapString longer(CopyLeft("ab", 5));
  EXPECT_STREQ(longer.get(), "ab");
  HeapString none(CopyLeft("abc", 0));
  EXPECT_STREQ(none.get(), "");
}

TEST(LowerString, ChangesOnlyAsciiCapitals) {
  char text[] = "[ErrorFILE] \xC4z9";
  LowerString(text);
  EXPECT_STREQ(text, "[errorfile] \xC4z9");
}

TEST(StringsEqual, NeedsSameLengthAndBytes) {
  EXPECT_EQ(StringsEqual("19200", "19200"), 1);
  EXPECT_EQ(StringsEqual("19200", "19200 "), 0);
  EXPECT_EQ(StringsEqual("abc", "ABC"), 0);
}

}  // namespace
}  // namespace portflash
