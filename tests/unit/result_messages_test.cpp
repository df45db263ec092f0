#include "engine/result_messages.h"

#include <gtest/gtest.h>

#include "res/string_table.h"
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
  int Count() const { return CountResultMessages(app); }
  std::string Text(ResultCode code) const { return ResultText(app, code); }
  std::string path;
};

std::string Fallback(const char* digits) {
  return std::string("ERROR: Unknown Result code = ") + digits + "\n";
}

TEST(ResultMessages, FileThatCannotBeUsedGivesTheBuiltInTexts) {
  MessageRig rig;
  const std::string noHeader = "ERROR: CANNOT FIND ERROR HEADER IN\n";
  // the file's content (none: no file at all), the box's first line
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {std::nullopt, "Unable to open error file\n"},
      {"[errorfile] \n1 x\n", noHeader},
      {"[error file]\n1 x\n", noHeader},
      {"", noHeader},
  };
  for (const auto& [content, message] : cases) {
    EXPECT_TRUE(rig.Load(content));
    const char* tail = content ? "\nUsing default error codes\n" : "\nUsing Default error codes";
    EXPECT_EQ(rig.dialogs.messages, (Messages{message + rig.path + tail}));
    EXPECT_EQ(rig.Count(), 26);
  }
  EXPECT_EQ(rig.app.GetResultMessages()->code, 26);  // the last added is in front
  EXPECT_EQ(rig.Text(13), "ERROR: Wrong hardware type");
  EXPECT_EQ(rig.Text(5), "ERROR: Unkown Transfer ID");
  EXPECT_EQ(rig.Text(22), "TRANSFER COMPLETED SUCCESSFULLY");
  EXPECT_EQ(rig.Text(0), Fallback("0000"));
  EXPECT_EQ(rig.Text(27), Fallback("001b"));
}

TEST(ResultMessages, HeaderIsFoundWithoutRegardToCaseAndOnlyTheFilesTextsCount) {
  MessageRig rig;
  for (const char* header : {"[ERRORFILE]", "[ErrorFile]", "[errorfile]"}) {
    SCOPED_TRACE(header);
    ASSERT_TRUE(
        rig.Load(std::string("junk before\n42 not an entry\n") + header + "\n13 Our own\n"));
    EXPECT_TRUE(rig.dialogs.messages.empty());
    EXPECT_EQ(rig.Count(), 1);
    EXPECT_EQ(rig.Text(13), "Our own");
  }
  // A long line is looked at in pieces of 253: its second piece is compared on its own,
  // and a header with blanks up to 253 characters is one piece with them.
  ASSERT_TRUE(rig.Load(std::string(253, 'x') + "[errorfile]\n1 found\n"));
  EXPECT_EQ(rig.Text(1), "found");
  ASSERT_TRUE(rig.Load("[errorfile]" + std::string(250, ' ') + "\n1 found\n"));
  EXPECT_EQ(rig.dialogs.messages.size(), 1u);
}

TEST(ResultMessages, EntriesAreACodeThenTheRestOfTheLine) {
  MessageRig rig;
  ASSERT_TRUE(
      rig.Load("[errorfile]\n5 first five\n\n\n  12   blanks kept at the end  \n5 second five\n"
               "7\n\nseven on its own line\nhello world\n-3 negative\n+9 plus\n-\n"
               "200\tafter a tab\n1 " +
               std::string(300, 'x') + "\n2 short\n17   \n"));
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
  EXPECT_EQ(rig.Count(), 9);

  ASSERT_TRUE(rig.Load("old\r\n[ErrorFile]\r\n1 one\r\n\r\n2\r\ntwo\r\n3 lone\rcr\r\n"));
  EXPECT_EQ(rig.Text(1), "one");
  EXPECT_EQ(rig.Text(2), "two");
  EXPECT_EQ(rig.Text(3), "lone\rcr");  // a lone CR is an ordinary character

  ASSERT_TRUE(rig.Load("[errorfile]\n"));  // a header and nothing else: an empty list
  EXPECT_EQ(rig.app.GetResultMessages(), nullptr);
  EXPECT_EQ(rig.Text(13), Fallback("000d"));
}

// New entries go in front and never hide the program's own texts; an entry without
// text falls back; a long list is freed without running out of stack.
TEST(ResultMessages, NewEntriesGoInFrontNeverHideTheProgramsTextsAndALongListIsFreed) {
  MessageRig rig;
  ResultMessage* node = AddResultMessage(rig.app, 0xFFFF, "");
  EXPECT_EQ(rig.app.GetResultMessages(), node);
  EXPECT_STREQ(node->text, " ");
  EXPECT_EQ(rig.Text(RESULT_SUCCESS), LoadStringResource(111));
  ResultMessage empty{9, nullptr, node};
  rig.app.SetResultMessages(&empty);
  EXPECT_EQ(rig.Text(9), Fallback("0009"));
  rig.app.SetResultMessages(node);
  for (int i = 0; i < 200000; ++i) AddResultMessage(rig.app, i, "x");
  FreeResultMessages(rig.app);
  EXPECT_EQ(rig.app.GetResultMessages(), nullptr);
  FreeResultMessages(rig.app);
}

}  // namespace
}  // namespace portflash::testing
