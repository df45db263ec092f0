#include <gtest/gtest.h>

#include <filesystem>

#include "app/update_app.h"
#include "engine/result_messages.h"
#include "support/fakes.h"
#include "unit/image_test_files.h"

namespace portflash::testing {
namespace {

using Messages = std::vector<std::string>;
const std::string kNoLoader = "No Loader file found for agent filename";

std::string Text(const char* text) {
  return text != nullptr ? text : "<null>";
}

// A program directory with a kvr loader, its message file and a matching agent.
class ImageSet : public ::testing::Test {
 protected:
  ImageSet() {
    // The message-file rule looks for the last dot of the whole path.
    EXPECT_EQ(dir_.Dir().find('.'), std::string::npos);
    app_.SetAppDir(dir_.Dir().c_str());
    profile_.sections["LDR Filename"]["kvr"] = "loaders/kvr.ldr";
    dir_.Write("loaders/kvr.ldr", MarkedLoader({"NIMBREL7010", "NIMBREL7020"}));
    dir_.Write("loaders/kvr.err", "[errorfile]\n13 Own text for 13\n");
    agent_ = dir_.Write("images/kvr-agent.bin", Product("NIMBREL7010") + Record('I', "") + "body");
  }
  // Sets the agent path without resolving it, as start-up does.
  void SetUnresolvedAgentPath(const std::string& path) {
    profile_.sections["Last Bin File"]["Filename"] = path;
    app_.LoadLastAgentPath();
  }
  std::string Loader() const { return Text(app_.GetLoaderPath()); }
  std::string Message13() const { return Text(FindResultMessage(app_, 13)); }
  // The only box shown since the last call starts with `start`.
  void ExpectOneMessage(const std::string& start) {
    ASSERT_EQ(dialogs_.messages.size(), 1u);
    EXPECT_EQ(dialogs_.messages[0].rfind(start, 0), 0u) << dialogs_.messages[0];
    dialogs_.messages.clear();
  }

  TempDir dir_;
  MapProfile profile_;
  RecordingDialogs dialogs_;
  CUpdateApp app_{profile_, dialogs_};
  std::string agent_;
};

TEST_F(ImageSet, ResolvesTheWholeSetAndAFailedStepLeavesTheLaterFieldsAsTheyWere) {
  ASSERT_EQ(app_.SetAgentPath(agent_.c_str()), 1);
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(Text(app_.GetAgentPrefix()), "kvr");
  EXPECT_EQ(Loader(), dir_.Dir() + "loaders/kvr.ldr");
  EXPECT_EQ(Text(app_.GetErrorFilePath()), dir_.Dir() + "loaders/kvr.err");
  EXPECT_EQ(Text(app_.GetProductList()), "NIMBREL7010 ");
  EXPECT_EQ(app_.GetLoaderSkip(), 33u);
  EXPECT_EQ(Message13(), "Own text for 13");

  const std::string other = dir_.Write("images/abc.bin", "");
  EXPECT_EQ(app_.SetAgentPath(other.c_str()), 0);
  ExpectOneMessage(kNoLoader);
  EXPECT_EQ(Text(app_.GetAgentPath()), other);
  EXPECT_EQ(Text(app_.GetAgentPrefix()), "abc");
  EXPECT_EQ(app_.GetLoaderPath(), nullptr);
  EXPECT_EQ(Text(app_.GetErrorFilePath()), dir_.Dir() + "loaders/kvr.err");
  EXPECT_EQ(Text(app_.GetProductList()), "NIMBREL7010 ");
  EXPECT_EQ(app_.GetLoaderSkip(), 33u);
  EXPECT_EQ(Message13(), "Own text for 13");
  EXPECT_EQ(app_.ResolveErrorFilePath(), 0);  // the step needs a loader

  // A failed product check: the new loader and messages, no list.
  profile_.sections["LDR Filename"]["tnw"] = "loaders/tnw.ldr";
  dir_.Write("loaders/tnw.ldr", MarkedLoader({"TANWICK"}));
  dir_.Write("loaders/tnw.err", "[errorfile]\n13 Tanwick 13\n");
  const std::string tnw = dir_.Write("images/tnw.bin", Product("X") + Record('I', "") + "\x01");
  EXPECT_EQ(app_.SetAgentPath(tnw.c_str()), 0);
  ExpectOneMessage("Unable to get agent record");
  EXPECT_EQ(Loader(), dir_.Dir() + "loaders/tnw.ldr");
  EXPECT_EQ(Message13(), "Tanwick 13");
  EXPECT_EQ(app_.GetLoaderSkip(), 4u + 10 + 1);
  EXPECT_EQ(app_.GetProductList(), nullptr);
}

TEST_F(ImageSet, PrefixIsTheFirstThreeCharactersOfTheFileName) {
  const std::pair<std::string, std::string> cases[] = {
      {"kvr0001.bin", "kvr"}, {"/a.b/xy", "xy"}, {"/img/KvR7.bin", "KvR"}, {"/img/", " "}};
  for (const auto& [path, prefix] : cases) {
    SetUnresolvedAgentPath(path);
    EXPECT_EQ(app_.ResolveAgentPrefix(), 1);
    EXPECT_EQ(Text(app_.GetAgentPrefix()), prefix) << path;
  }
}

TEST_F(ImageSet, LoaderThatCannotBeFoundShows126AndTheAgentPathIsKept) {
  profile_.sections["LDR Filename"]["tnw"] = "loaders/none.ldr";
  profile_.sections["LDR Filename"]["hpz"] = "loaders";  // a directory
  profile_.sections["LDR Filename"]["jdq"] = "";
  for (const char* name : {"abc-agent.bin", "tnw-agent.bin", "hpz-agent.bin", "jdq-agent.bin"}) {
    const std::string agent = dir_.Write(std::string("images/") + name, "");
    EXPECT_EQ(app_.SetAgentPath(agent.c_str()), 0) << name;
    ExpectOneMessage(kNoLoader);
    EXPECT_EQ(app_.GetLoaderPath(), nullptr);
    EXPECT_EQ(Text(app_.GetAgentPath()), agent);
  }
}

TEST_F(ImageSet, MessageFileReplacesTheLastDotOfTheWholePath) {
  const std::pair<std::string, std::string> cases[] = {{"loaders.d/ldr", "loaders.err"},
                                                       {"loaders/kvr.v2.ldr", "loaders/kvr.v2.err"},
                                                       {"loaders/plain", "loaders/plain.err"},
                                                       {"loaders/dot.", "loaders/dot.err"}};
  for (const auto& [entry, message] : cases) {
    dir_.Write(entry, MarkedLoader({"X"}));
    profile_.sections["LDR Filename"]["kvr"] = entry;
    app_.SetAgentPath(agent_.c_str());
    EXPECT_EQ(Text(app_.GetErrorFilePath()), dir_.Dir() + message) << entry;
  }
}

TEST_F(ImageSet, SamePathAgainReloadsEverythingIntoAnEmptiedList) {
  auto count = [this] {
    int n = 0;
    for (ResultMessage* node = app_.GetResultMessages(); node != nullptr; node = node->next) ++n;
    return n;
  };
  ASSERT_EQ(app_.SetAgentPath(agent_.c_str()), 1);
  EXPECT_EQ(count(), 1);
  dir_.Write("loaders/kvr.err", "[errorfile]\n13 Second text\n14 Another\n");
  dir_.Write("loaders/kvr.ldr", MarkedLoader({"NIMBREL7010"}));
  ASSERT_EQ(app_.SetAgentPath(agent_.c_str()), 1);
  EXPECT_EQ(count(), 2);
  EXPECT_EQ(Message13(), "Second text");
  EXPECT_EQ(app_.GetLoaderSkip(), 4u + 14 + 1);
  std::filesystem::remove(dir_.Path("loaders/kvr.err"));
  ASSERT_EQ(app_.SetAgentPath(agent_.c_str()), 1);
  EXPECT_EQ(count(), 26);  // the built-in texts, not added to the old ones
}

// Paths were kept in 260-byte buffers: 259 characters at most, for each file's path.
TEST_F(ImageSet, PathsOfMoreThan259CharactersAreRefused) {
  const std::string longest = "/" + std::string(258, 'a');
  SetUnresolvedAgentPath(longest);
  EXPECT_EQ(app_.SetAgentPath((longest + "b").c_str()), 0);
  ExpectOneMessage("The agent file path is too long\n");
  EXPECT_EQ(Text(app_.GetAgentPath()), longest + "b");
  EXPECT_EQ(app_.GetAgentPrefix(), nullptr);  // nothing was resolved
  EXPECT_EQ(app_.SetAgentPath(longest.c_str()), 0);
  ExpectOneMessage(kNoLoader);  // 259 characters pass; this one has no loader entry

  profile_.sections["LDR Filename"]["kvr"] = std::string(260 - dir_.Dir().size(), 'l');
  EXPECT_EQ(app_.SetAgentPath(agent_.c_str()), 0);
  ExpectOneMessage("The loader file path is too long\n");
  EXPECT_EQ(app_.GetLoaderPath(), nullptr);

  // A loader of 258 characters without a dot: its message file would need 262.
  const std::string entry = "loaders/" + std::string(258 - 8 - dir_.Dir().size(), 'n');
  dir_.Write(entry, MarkedLoader({"NIMBREL7010"}));
  profile_.sections["LDR Filename"]["kvr"] = entry;
  EXPECT_EQ(app_.SetAgentPath(agent_.c_str()), 0);
  ExpectOneMessage("The message file path is too long\n");
  EXPECT_EQ(Loader(), dir_.Dir() + entry);
  EXPECT_EQ(app_.GetErrorFilePath(), nullptr);
}

TEST_F(ImageSet, AbbreviatedPathKeepsHeadAndTail) {
  const std::string path = "/Images/firmware/unit/agent0001.bin";  // 35 characters
  const struct {
    std::string path;
    int max;
    std::string shown;
  } cases[] = {
      {path, 30, "/.../firmware/unit/agent0001.bin"},
      {path, 35, "/.../firmware/unit/agent0001.bin"},
      {path, 36, path},
      {path, 20, "/.../unit/agent0001.bin"},
      {path, -1, path},  // compared unsigned
      {"C:/Images/firmware/unit/agent01.bin", 30, "C:/.../firmware/unit/agent01.bin"},
      // No separator far enough right: the tail is the last component.
      {"/abc/averyveryverylongfilename0001.bin", 30, "/.../averyveryverylongfilename0001.bin"},
      {"agent-without-any-separator.bin", 31, "...agent-without-any-separator.bin"},
      {"agent-without-any-separator.bin", 32, "agent-without-any-separator.bin"},
  };
  for (const auto& c : cases) {
    SetUnresolvedAgentPath(c.path);
    EXPECT_EQ(app_.GetAbbreviatedAgentPath(c.max), c.shown) << c.path << " " << c.max;
  }
}

TEST_F(ImageSet, LastAgentPathIsSavedAndRestoredWithoutResolving) {
  profile_.sections["Last Bin File"]["filename"] = "/old/kvr.bin";
  app_.SaveLastAgentPath();
  EXPECT_TRUE(profile_.sections["Last Bin File"].empty());  // a null path removes the entry
  app_.LoadLastAgentPath();
  EXPECT_EQ(app_.GetAgentPath(), nullptr);

  app_.SetAgentPath("/new/kvr.bin");
  app_.SaveLastAgentPath();
  CUpdateApp next(profile_, dialogs_);
  next.LoadLastAgentPath();
  EXPECT_EQ(Text(next.GetAgentPath()), "/new/kvr.bin");
  EXPECT_EQ(next.GetAgentPrefix(), nullptr);

  next.InitAppDir();
  EXPECT_EQ(Text(next.GetAppDir()),
            std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/");
}

}  // namespace
}  // namespace portflash::testing
