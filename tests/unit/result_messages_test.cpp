#include "engine/result_messages.h"

#include <gtest/gtest.h>

#include "engine/download_thread.h"
#include "res/string_table.h"
#include "support/fake_unit.h"

namespace portflash::testing {
namespace {

using Messages = std::vector<std::string>;

class ResultMessagesTest : public ::testing::Test {
 protected:
  // Loads a result-message file with the given content.
  bool Load(const std::string& content) {
    path = rig.WriteFile("kvr.err", content);
    return LoadResultMessages(rig.app, path.c_str());
  }
  int Count() const {
    int n = 0;
    for (ResultMessage* node = rig.app.GetResultMessages(); node != nullptr; node = node->next) ++n;
    return n;
  }
  std::string Text(ResultCode code) const { return ResultText(rig.app, code); }
  std::string Fallback(const char* digits) const {
    return std::string("ERROR: Unknown Result code = ") + digits + "\n";
  }

  EngineRig rig;
  std::string path;
};

TEST_F(ResultMessagesTest, MissingFileGivesTheBuiltInTexts) {
  path = rig.Path("none.err");
  EXPECT_TRUE(LoadResultMessages(rig.app, path.c_str()));
  EXPECT_EQ(rig.dialogs.messages,
            (Messages{"Unable to open error file\n" + path + "\nUsing Default error codes"}));
  EXPECT_EQ(Count(), 26);
  EXPECT_EQ(rig.app.GetResultMessages()->code, 26);  // the last added is in front
  EXPECT_EQ(Text(13), "ERROR: Wrong hardware type");
  EXPECT_EQ(Text(5), "ERROR: Unkown Transfer ID");
  EXPECT_EQ(Text(22), "TRANSFER COMPLETED SUCCESSFULLY");
  EXPECT_EQ(Text(0), Fallback("0000"));
  EXPECT_EQ(Text(27), Fallback("001b"));
}

TEST_F(ResultMessagesTest, HeaderIsMatchedWithoutRegardToCaseOnly) {
  for (const char* header : {"[ERRORFILE]", "[ErrorFile]", "[errorfile]"}) {
    SCOPED_TRACE(header);
    FreeResultMessages(rig.app);
    ASSERT_TRUE(Load(std::string("junk before\n42 not an entry\n") + header + "\n13 Our own\n"));
    EXPECT_TRUE(rig.dialogs.messages.empty());
    EXPECT_EQ(Count(), 1);
    EXPECT_EQ(Text(13), "Our own");
    EXPECT_EQ(Text(14), Fallback("000e"));  // no built-in texts beside the file's
  }
}

TEST_F(ResultMessagesTest, NearMissHeadersAreNotHeaders) {
  for (const char* content :
       {"[errorfile] \n1 x\n", " [errorfile]\n1 x\n", "[error file]\n1 x\n", "", "\n\n"}) {
    SCOPED_TRACE(content);
    FreeResultMessages(rig.app);
    rig.dialogs.messages.clear();
    ASSERT_TRUE(Load(content));
    EXPECT_EQ(rig.dialogs.messages, (Messages{"ERROR: CANNOT FIND ERROR HEADER IN\n" + path +
                                              "\nUsing default error codes\n"}));
    EXPECT_EQ(Count(), 26);
  }
}

TEST_F(ResultMessagesTest, EntriesAreReadAsCodeThenTheRestOfTheLine) {
  ASSERT_TRUE(
      Load("[errorfile]\n"
           "5 first five\n"
           "\n\n"
           "  12   blanks kept at the end  \n"
           "5 second five\n"
           "7\n"
           "\n"
           "seven on its own line\n"
           "-3 negative\n"
           "+9 plus\n"
           "200\tafter a tab\n"));
  EXPECT_EQ(Text(5), "second five");  // the later entry wins
  EXPECT_EQ(Text(12), "blanks kept at the end  ");
  EXPECT_EQ(Text(7), "seven on its own line");
  EXPECT_EQ(Text(9), "plus");
  EXPECT_EQ(Text(200), "after a tab");
  EXPECT_STREQ(FindResultMessage(rig.app, -3), "negative");
  EXPECT_EQ(Count(), 7);
}

TEST_F(ResultMessagesTest, WindowsLineEndsReadAsLineEnds) {
  ASSERT_TRUE(Load("old\r\n[ErrorFile]\r\n1 one\r\n\r\n2\r\ntwo\r\n3 lone\rcr\r\n"));
  EXPECT_EQ(Text(1), "one");
  EXPECT_EQ(Text(2), "two");
  EXPECT_EQ(Text(3), "lone\rcr");
}

TEST_F(ResultMessagesTest, OddLinesAfterTheHeaderEndTheLoadSafely) {
  // A line that is no entry is skipped; a code with no text adds nothing.
  ASSERT_TRUE(Load("[errorfile]\nhello world\n6 six\n-\n8 eight\n99   \n\n"));
  EXPECT_EQ(Text(6), "six");
  EXPECT_EQ(Text(8), "eight");
  EXPECT_EQ(FindResultMessage(rig.app, 99), nullptr);
  EXPECT_EQ(Count(), 2);

  FreeResultMessages(rig.app);
  ASSERT_TRUE(Load("[errorfile]\n4 four\n17"));
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(FindResultMessage(rig.app, 17), nullptr);

  FreeResultMessages(rig.app);
  ASSERT_TRUE(Load("[errorfile]\n"));  // a header and nothing else: an empty list
  EXPECT_EQ(rig.app.GetResultMessages(), nullptr);
  EXPECT_EQ(Text(13), Fallback("000d"));
}

TEST_F(ResultMessagesTest, LongTextsAreCutAndTheNextEntryStillRead) {
  std::string longText(300, 'x');
  ASSERT_TRUE(Load("[errorfile]\n1 " + longText + "\n2 short\n"));
  EXPECT_EQ(Text(1), std::string(255, 'x'));
  EXPECT_EQ(Text(2), "short");
}

TEST_F(ResultMessagesTest, HeaderSearchLooksAtLongLinesInPiecesOf253) {
  // The second piece of a long line is compared on its own.
  ASSERT_TRUE(Load(std::string(253, 'x') + "[errorfile]\n1 found\n"));
  EXPECT_EQ(Text(1), "found");

  // A header followed by blanks up to 253 characters is one piece with them.
  FreeResultMessages(rig.app);
  rig.dialogs.messages.clear();
  ASSERT_TRUE(Load("[errorfile]" + std::string(250, ' ') + "\n1 found\n"));
  EXPECT_EQ(rig.dialogs.messages.size(), 1u);

  // FindLine leaves the file right after the header line.
  std::string content = "a\n[ERRORFILE]\nnext\n";
  std::FILE* file = fmemopen(content.data(), content.size(), "r");
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(FindLine("[errorfile]", file));
  char line[16];
  ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
  EXPECT_STREQ(line, "next\n");
  EXPECT_FALSE(FindLine("[errorfile]", file));
  std::fclose(file);
}

TEST_F(ResultMessagesTest, InternalCodesUseTheStringTable) {
  const struct {
    ResultCode code;
    int message;
  } cases[] = {{RESULT_SUCCESS, 111},       {RESULT_RESULT_TIMEOUT, 112}, {RESULT_NO_FILE, 113},
               {RESULT_WRITE_FAILED, 114},  {RESULT_SYNC_FAILED, 115},    {RESULT_BAD_BAUD, 116},
               {RESULT_CONFIG_FAILED, 117}, {RESULT_NO_DATA, 118},        {RESULT_NO_MEMORY, 119},
               {RESULT_OPEN_FAILED, 121}};
  // A list entry with an internal code's value must not hide its message.
  AddResultMessage(rig.app, 0xFFFF, "from the list");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(Text(c.code), LoadStringResource(c.message));
    EXPECT_FALSE(Text(c.code).empty());
  }
}

TEST_F(ResultMessagesTest, EntryWithoutTextGetsTheFallback) {
  ResultMessage node{9, nullptr, nullptr};
  rig.app.SetResultMessages(&node);
  EXPECT_EQ(Text(9), Fallback("0009"));
  rig.app.SetResultMessages(nullptr);
}

TEST_F(ResultMessagesTest, ShowResultShowsOneBox) {
  LoadDefaultResultMessages(rig.app);
  CDownloadThread thread(rig.app);
  thread.ShowResult(22);
  thread.ShowResult(RESULT_SUCCESS);
  thread.ShowResult(42);
  EXPECT_EQ(rig.dialogs.messages, (Messages{"TRANSFER COMPLETED SUCCESSFULLY",
                                            LoadStringResource(111), Fallback("002a")}));
}

TEST_F(ResultMessagesTest, AddPutsNewEntriesInFrontAndFreeEmptiesALongList) {
  AddResultMessage(rig.app, 1, "old");
  ResultMessage* node = AddResultMessage(rig.app, 1, "new");
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(rig.app.GetResultMessages(), node);
  EXPECT_STREQ(FindResultMessage(rig.app, 1), "new");
  EXPECT_STREQ(AddResultMessage(rig.app, 2, "")->text, " ");
  for (int i = 0; i < 200000; ++i) AddResultMessage(rig.app, i, "x");
  FreeResultMessages(rig.app);
  EXPECT_EQ(rig.app.GetResultMessages(), nullptr);
  FreeResultMessages(rig.app);  // an empty list is fine too
}

}  // namespace
}  // namespace portflash::testing
