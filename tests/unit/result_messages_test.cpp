#include "engine/result_messages.h"

#include <gtest/gtest.h>

#include "support/unit_rig.h"

namespace portflash::testing {
namespace {

using Messages = std::vector<std::string>;

struct MessageRig : EngineRig {
  // Loads a fresh list from a message file with the given content (none: no file).
  bool Load(const std::optional<std::string>& content) {
    FreeResultMessages(app);
    dialogs.messages.clear();
    path = content ? WriteFile("kvr.err", *content) : Path("none.err");
    return LoadResultMessages(app, path.c_str());
  }
  std::string Text(ResultCode code) const { return ResultText(app, code); }
  std::string path;
};

// A long line is looked at in pieces of 253: its second piece is compared on its own,
// and a header with blanks up to 253 characters is one piece with them.
TEST(ResultMessages, HeaderIsFoundWithoutRegardToCaseElseTheBuiltInTextsCount) {
  MessageRig rig;
  const std::string noHeader = "ERROR: CANNOT FIND ERROR HEADER IN\n";
  // the file's content (none: no file at all), the box's first line (none: no box)
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {std::nullopt, "Unable to open error file\n"},
      {"[errorfile] \n13 x\n", noHeader},
      {"[error file]\n13 x\n", noHeader},
      {"", noHeader},
      {"[errorfile]" + std::string(250, ' ') + "\n13 x\n", noHeader},
      {"junk before\n42 not an entry\n[ERRORFILE]\n13 x\n", ""},
      {"[ErrorFile]\n13 x\n", ""},
      {std::string(253, 'y') + "[errorfile]\n13 x\n", ""},
  };
  for (const auto& [content, message] : cases) {
    SCOPED_TRACE(content.value_or("(no file)").substr(0, 30));
    EXPECT_TRUE(rig.Load(content));
    const bool builtIn = !message.empty();
    const char* tail = content ? "\nUsing default error codes\n" : "\nUsing Default error codes";
    EXPECT_EQ(rig.dialogs.messages, builtIn ? Messages{message + rig.path + tail} : Messages{});
    // Only the file's texts, else the built-in ones, numbered from 1.
    EXPECT_EQ(CountResultMessages(rig.app), builtIn ? 26 : 1);
    EXPECT_EQ(rig.Text(13), builtIn ? "ERROR: Wrong hardware type" : "x");
  }
  EXPECT_EQ(rig.Text(27), "ERROR: Unknown Result code = 001b\n");
}

TEST(ResultMessages, EntriesAreACodeThenTheRestOfTheLine) {
  MessageRig rig;
  ASSERT_TRUE(
      rig.Load("[errorfile]\n5 first five\n\n\n  12   blanks kept at the end  \n5 second five\n"
               "7\n\nseven on its own line\nhello world\n-3 negative\n+9 plus\n-\n"
               "200\tafter a tab\n1 " +
               std::string(300, 'x') + "\n2 short\n65535 not the program's\n17   \n"));
  EXPECT_EQ(rig.Text(5), "second five");  // the later entry wins
  EXPECT_EQ(rig.Text(12), "blanks kept at the end  ");
  EXPECT_EQ(rig.Text(7), "seven on its own line");
  EXPECT_EQ(rig.Text(9), "plus");
  EXPECT_EQ(rig.Text(200), "after a tab");
  EXPECT_STREQ(FindResultMessage(rig.app, -3), "negative");
  EXPECT_EQ(rig.Text(1), std::string(255, 'x'));  // cut, and the next entry still read
  EXPECT_EQ(rig.Text(2), "short");
  // A line that is no entry is skipped; a code with no text adds nothing.
  EXPECT_EQ(FindResultMessage(rig.app, 17), nullptr);
  EXPECT_EQ(CountResultMessages(rig.app), 10);

  ASSERT_TRUE(rig.Load("old\r\n[ErrorFile]\r\n1 one\r\n\r\n2\r\ntwo\r\n3 lone\rcr\r\n"));
  EXPECT_EQ(rig.Text(1), "one");
  EXPECT_EQ(rig.Text(2), "two");
  EXPECT_EQ(rig.Text(3), "lone\rcr");  // a lone CR is an ordinary character

  ASSERT_TRUE(rig.Load("[errorfile]\n"));  // a header and nothing else: an empty list
  EXPECT_EQ(rig.app.GetResultMessages(), nullptr);
}

}  // namespace
}  // namespace portflash::testing
