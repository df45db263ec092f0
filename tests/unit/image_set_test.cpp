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

const std::string kNoLoader = "No Loader file found for agent filename";

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
  }
  // Setting the agent path gives `result`, with one box that starts with `start`.
  void ExpectSet(const std::string& agent, int result, const std::string& start) {
    EXPECT_EQ(app.SetAgentPath(agent.c_str()), result);
    EXPECT_THAT(dialogs.messages, ::testing::ElementsAre(::testing::StartsWith(start)));
    dialogs.messages.clear();
  }

  const std::string home = dir + "/";  // the program directory
  const std::string agent_ =
      WriteFile("images/kvr-agent.bin", Product("NIMBREL7010") + Record('I', "") + "body");
};

TEST_F(ImageSet, ResolvesTheWholeSetAgainEachTimeAndAFailedStepLeavesTheLaterFields) {
  ASSERT_EQ(app.SetAgentPath(agent_.c_str()), 1);
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_STREQ(app.GetLoaderPath(), (home + "loaders/kvr.ldr").c_str());
  EXPECT_STREQ(app.GetProductList(), "NIMBREL7010 ");
  EXPECT_STREQ(FindResultMessage(app, 13), "Own text for 13");

  // The same path again reads both files again, the messages into an emptied list.
  WriteFile("loaders/kvr.err", "[errorfile]\n13 Second text\n14 Another\n");
  WriteFile("loaders/kvr.ldr", MarkedLoader({"NIMBREL7010"}));
  ASSERT_EQ(app.SetAgentPath(agent_.c_str()), 1);
  EXPECT_EQ(CountResultMessages(app), 2);
  EXPECT_STREQ(FindResultMessage(app, 13), "Second text");
  EXPECT_EQ(app.GetLoaderSkip(), 4u + 14 + 1);

  const std::string other = WriteFile("images/abc.bin", "");
  ExpectSet(other, 0, kNoLoader);
  EXPECT_STREQ(app.GetAgentPath(), other.c_str());
  EXPECT_EQ(app.GetLoaderPath(), nullptr);
  EXPECT_STREQ(app.GetProductList(), "NIMBREL7010 ");
  EXPECT_STREQ(FindResultMessage(app, 13), "Second text");

  // The loader skip comes from a good header only.
  WriteFile("loaders/kvr.ldr", Bytes({0xFF, 0xFF, 0xFF, 0xFF, 'P'}));
  ExpectSet(agent_, 0, "The loader file " + home + "loaders/kvr.ldr has no valid product header");
  EXPECT_EQ(app.GetLoaderSkip(), 4u + 14 + 1);
}

// What is no regular file is refused as a missing file is (120 for the agent, 126
// for the loader, the built-in messages for the message file), and a FIFO or a
// device is refused without opening it for reading: that would wait for a writer
// or a carrier.
TEST_F(ImageSet, WhatIsNoRegularFileIsRefusedWithoutBlocking) {
  FifoGuard fifos;
  // Puts a `kind` of thing in the place of `name`.
  auto special = [&](const std::string& name, const std::string& kind) {
    std::filesystem::remove(Path(name));
    if (kind == "fifo") fifos.Make(Path(name));
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
    ExpectSet(special("images/kvr-" + kind + ".bin", kind), 0,
              LoadStringResource(IDS_BIN_NOT_FOUND));

    profile.sections["LDR Filename"]["kvr"] = "loaders/" + kind + ".ldr";
    special("loaders/" + kind + ".ldr", kind);
    ExpectSet(agent_, 0, kNoLoader);

    profile.sections["LDR Filename"]["kvr"] = "loaders/kvr.ldr";
    special("loaders/kvr.err", kind);
    ExpectSet(agent_, 1, "Unable to open error file\n" + home + "loaders/kvr.err");
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
    EXPECT_STREQ(app.GetErrorFilePath(), (home + message).c_str()) << entry;
  }
}

// Paths were kept in 260-byte buffers: 259 characters at most, for each file's path.
TEST_F(ImageSet, PathsOfMoreThan259CharactersAreRefused) {
  const std::string longest(259, 'a');
  ExpectSet(longest + "b", 0, "The agent file path is too long\n");
  EXPECT_EQ(app.GetAgentPrefix(), nullptr);  // nothing was resolved
  ExpectSet(longest, 0, kNoLoader);          // 259 characters pass; this one has no loader entry

  profile.sections["LDR Filename"]["kvr"] = std::string(260 - home.size(), 'l');
  ExpectSet(agent_, 0, "The loader file path is too long\n");

  // A loader of 258 characters without a dot: its message file would need 262.
  const std::string entry = "loaders/" + std::string(258 - 8 - home.size(), 'n');
  WriteFile(entry, MarkedLoader({"NIMBREL7010"}));
  profile.sections["LDR Filename"]["kvr"] = entry;
  ExpectSet(agent_, 0, "The message file path is too long\n");
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
    // Set without resolving it, as start-up does.
    profile.sections["Last Bin File"]["Filename"] = full;
    app.LoadLastAgentPath();
    EXPECT_EQ(app.GetAbbreviatedAgentPath(max), shown) << full << " " << max;
  }
}

}  // namespace
}  // namespace portflash::testing
