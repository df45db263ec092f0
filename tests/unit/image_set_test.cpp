#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "app/update_app.h"
#include "engine/result_messages.h"
#include "res/string_table.h"
#include "support/unit_rig.h"
#include "unit/image_test_files.h"

namespace portflash::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

const std::string kNoLoader = "No Loader file found for agent filename";

std::string Text(const char* text) {
  return text != nullptr ? text : "<null>";
}

// A program directory with a kvr loader, its message file and a matching agent.
class ImageSet : public ::testing::Test, protected EngineRig {
 protected:
  ImageSet() {
    // The message-file rule looks for the last dot of the whole path.
    EXPECT_EQ(home.find('.'), std::string::npos);
    app.SetAppDir(home.c_str());
    profile.sections["LDR Filename"]["kvr"] = "loaders/kvr.ldr";
    WriteFile("loaders/kvr.ldr", MarkedLoader({"NIMBREL7010", "NIMBREL7020"}));
    WriteFile("loaders/kvr.err", "[errorfile]\n13 Own text for 13\n");
    agent_ = WriteFile("images/kvr-agent.bin", Product("NIMBREL7010") + Record('I', "") + "body");
  }
  // Sets the agent path without resolving it, as start-up does.
  void SetUnresolvedAgentPath(const std::string& path) {
    profile.sections["Last Bin File"]["Filename"] = path;
    app.LoadLastAgentPath();
  }
  std::string Loader() const { return Text(app.GetLoaderPath()); }
  std::string Message13() const { return Text(FindResultMessage(app, 13)); }
  // The only box shown since the last call starts with `start`.
  void ExpectOneMessage(const std::string& start) {
    EXPECT_THAT(dialogs.messages, ElementsAre(StartsWith(start)));
    dialogs.messages.clear();
  }

  const std::string home = dir + "/";  // the program directory
  std::string agent_;
};

TEST_F(ImageSet, ResolvesTheWholeSetAndAFailedStepLeavesTheLaterFieldsAsTheyWere) {
  ASSERT_EQ(app.SetAgentPath(agent_.c_str()), 1);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(Text(app.GetAgentPrefix()), "kvr");
  EXPECT_EQ(Loader(), home + "loaders/kvr.ldr");
  EXPECT_EQ(Text(app.GetErrorFilePath()), home + "loaders/kvr.err");
  EXPECT_EQ(Text(app.GetProductList()), "NIMBREL7010 ");
  EXPECT_EQ(app.GetLoaderSkip(), 33u);
  EXPECT_EQ(Message13(), "Own text for 13");

  const std::string other = WriteFile("images/abc.bin", "");
  EXPECT_EQ(app.SetAgentPath(other.c_str()), 0);
  ExpectOneMessage(kNoLoader);
  EXPECT_EQ(Text(app.GetAgentPath()), other);
  EXPECT_EQ(app.GetLoaderPath(), nullptr);
  EXPECT_EQ(Text(app.GetProductList()), "NIMBREL7010 ");
  EXPECT_EQ(Message13(), "Own text for 13");
  EXPECT_EQ(app.ResolveErrorFilePath(), 0);  // the step needs a loader

  // A failed product check: the new loader and messages, no list.
  profile.sections["LDR Filename"]["tnw"] = "loaders/tnw.ldr";
  WriteFile("loaders/tnw.ldr", MarkedLoader({"TANWICK"}));
  WriteFile("loaders/tnw.err", "[errorfile]\n13 Tanwick 13\n");
  const std::string tnw = WriteFile("images/tnw.bin", Product("X") + Record('I', "") + "\x01");
  EXPECT_EQ(app.SetAgentPath(tnw.c_str()), 0);
  ExpectOneMessage("Unable to get agent record");
  EXPECT_EQ(Loader(), home + "loaders/tnw.ldr");
  EXPECT_EQ(Message13(), "Tanwick 13");
  EXPECT_EQ(app.GetLoaderSkip(), 4u + 10 + 1);
  EXPECT_EQ(app.GetProductList(), nullptr);
}

TEST_F(ImageSet, PrefixIsTheFirstThreeCharactersOfTheFileName) {
  const std::pair<std::string, std::string> cases[] = {
      {"kvr0001.bin", "kvr"}, {"/a.b/xy", "xy"}, {"/img/KvR7.bin", "KvR"}, {"/img/", " "}};
  for (const auto& [path, prefix] : cases) {
    SetUnresolvedAgentPath(path);
    EXPECT_EQ(app.ResolveAgentPrefix(), 1);
    EXPECT_EQ(Text(app.GetAgentPrefix()), prefix) << path;
  }
}

// What is no regular file is refused as a missing file is (120 for the agent, 126
// for the loader, the built-in messages for the message file), and a FIFO or a
// device is refused without opening it for reading: that would wait for a writer
// or a carrier.
TEST_F(ImageSet, WhatIsNoRegularFileIsRefusedWithoutBlocking) {
  FifoGuard fifos;
  const std::string unable = "Unable to open error file\n";
  const std::string binNotFound = LoadStringResource(IDS_BIN_NOT_FOUND);
  auto special = [&](const std::string& name, const std::string& kind) {
    std::filesystem::remove(Path(name));
    if (kind == "fifo") return fifos.Make(Path(name));
    if (kind == "device") std::filesystem::create_symlink("/dev/null", Path(name));
    if (kind == "directory") std::filesystem::create_directories(Path(name));
    return Path(name);
  };
#ifdef _WIN32
  const auto kinds = {"directory", "missing"};  // no FIFOs, no links to devices
#else
  const auto kinds = {"fifo", "device", "directory", "missing"};
#endif
  for (const std::string kind : kinds) {
    SCOPED_TRACE(kind);
    EXPECT_EQ(app.SetAgentPath(special("images/kvr-" + kind + ".bin", kind).c_str()), 0);
    ExpectOneMessage(binNotFound);

    profile.sections["LDR Filename"]["kvr"] = "loaders/" + kind + ".ldr";
    special("loaders/" + kind + ".ldr", kind);
    EXPECT_EQ(app.SetAgentPath(agent_.c_str()), 0);
    ExpectOneMessage(kNoLoader);
    EXPECT_EQ(app.GetLoaderPath(), nullptr);

    profile.sections["LDR Filename"]["kvr"] = "loaders/kvr.ldr";
    special("loaders/kvr.err", kind);
    EXPECT_EQ(app.SetAgentPath(agent_.c_str()), 1);
    ExpectOneMessage(unable + home + "loaders/kvr.err");
    EXPECT_EQ(CountResultMessages(app), 26);  // the built-in texts
    std::filesystem::remove(Path("loaders/kvr.err"));
    WriteFile("loaders/kvr.err", "[errorfile]\n");
  }
  EXPECT_FALSE(fifos.Blocked());
}

TEST_F(ImageSet, MessageFileReplacesTheLastDotOfTheWholePath) {
  const std::pair<std::string, std::string> cases[] = {{"loaders.d/ldr", "loaders.err"},
                                                       {"loaders/kvr.v2.ldr", "loaders/kvr.v2.err"},
                                                       {"loaders/plain", "loaders/plain.err"}};
  for (const auto& [entry, message] : cases) {
    WriteFile(entry, MarkedLoader({"X"}));
    profile.sections["LDR Filename"]["kvr"] = entry;
    app.SetAgentPath(agent_.c_str());
    EXPECT_EQ(Text(app.GetErrorFilePath()), home + message) << entry;
  }
}

TEST_F(ImageSet, SamePathAgainReloadsEverythingIntoAnEmptiedList) {
  ASSERT_EQ(app.SetAgentPath(agent_.c_str()), 1);
  EXPECT_EQ(CountResultMessages(app), 1);
  WriteFile("loaders/kvr.err", "[errorfile]\n13 Second text\n14 Another\n");
  WriteFile("loaders/kvr.ldr", MarkedLoader({"NIMBREL7010"}));
  ASSERT_EQ(app.SetAgentPath(agent_.c_str()), 1);
  EXPECT_EQ(CountResultMessages(app), 2);
  EXPECT_EQ(Message13(), "Second text");
  EXPECT_EQ(app.GetLoaderSkip(), 4u + 14 + 1);
  std::filesystem::remove(Path("loaders/kvr.err"));
  ASSERT_EQ(app.SetAgentPath(agent_.c_str()), 1);
  EXPECT_EQ(CountResultMessages(app), 26);  // the built-in texts, not added to the old ones
}

// Paths were kept in 260-byte buffers: 259 characters at most, for each file's path.
TEST_F(ImageSet, PathsOfMoreThan259CharactersAreRefused) {
  const std::string longest(259, 'a');
  SetUnresolvedAgentPath(longest);
  EXPECT_EQ(app.SetAgentPath((longest + "b").c_str()), 0);
  ExpectOneMessage("The agent file path is too long\n");
  EXPECT_EQ(Text(app.GetAgentPath()), longest + "b");
  EXPECT_EQ(app.GetAgentPrefix(), nullptr);  // nothing was resolved
  EXPECT_EQ(app.SetAgentPath(longest.c_str()), 0);
  ExpectOneMessage(kNoLoader);  // 259 characters pass; this one has no loader entry

  profile.sections["LDR Filename"]["kvr"] = std::string(260 - home.size(), 'l');
  EXPECT_EQ(app.SetAgentPath(agent_.c_str()), 0);
  ExpectOneMessage("The loader file path is too long\n");
  EXPECT_EQ(app.GetLoaderPath(), nullptr);

  // A loader of 258 characters without a dot: its message file would need 262.
  const std::string entry = "loaders/" + std::string(258 - 8 - home.size(), 'n');
  WriteFile(entry, MarkedLoader({"NIMBREL7010"}));
  profile.sections["LDR Filename"]["kvr"] = entry;
  EXPECT_EQ(app.SetAgentPath(agent_.c_str()), 0);
  ExpectOneMessage("The message file path is too long\n");
  EXPECT_EQ(Loader(), home + entry);
  EXPECT_EQ(app.GetErrorFilePath(), nullptr);
}

TEST_F(ImageSet, AbbreviatedPathKeepsHeadAndTail) {
  const std::string path = "/Images/firmware/unit/agent0001.bin";  // 35 characters
  // the path, the most characters shown, what is shown
  const std::tuple<std::string, int, std::string> cases[] = {
      {path, 30, "/.../firmware/unit/agent0001.bin"},
      {path, 36, path},
      {path, 20, "/.../unit/agent0001.bin"},
      {path, -1, path},  // compared unsigned
      // No separator far enough right: the tail is the last component.
      {"/abc/averyveryverylongfilename0001.bin", 30, "/.../averyveryverylongfilename0001.bin"},
      {"agent-without-any-separator.bin", 31, "...agent-without-any-separator.bin"},
  };
  for (const auto& [full, max, shown] : cases) {
    SetUnresolvedAgentPath(full);
    EXPECT_EQ(app.GetAbbreviatedAgentPath(max), shown) << full << " " << max;
  }
}

TEST_F(ImageSet, LastAgentPathIsSavedAndRestoredWithoutResolving) {
  profile.sections["Last Bin File"]["filename"] = "/old/kvr.bin";
  app.SaveLastAgentPath();
  EXPECT_TRUE(profile.sections["Last Bin File"].empty());  // a null path removes the entry
  app.LoadLastAgentPath();
  EXPECT_EQ(app.GetAgentPath(), nullptr);

  app.SetAgentPath("kvr-new.bin");
  app.SaveLastAgentPath();
  CUpdateApp next(profile, dialogs);
  next.LoadLastAgentPath();
  EXPECT_EQ(Text(next.GetAgentPath()), "kvr-new.bin");
  EXPECT_EQ(next.GetAgentPrefix(), nullptr);

  next.InitAppDir();
#ifdef _WIN32
  EXPECT_TRUE(std::filesystem::is_regular_file(Text(next.GetAppDir()) + "unit_tests.exe"));
  EXPECT_EQ(Text(next.GetAppDir()).back(), '\\');
#else
  EXPECT_EQ(Text(next.GetAppDir()),
            std::filesystem::canonical("/proc/self/exe").parent_path().string() + "/");
#endif
}

}  // namespace
}  // namespace portflash::testing
