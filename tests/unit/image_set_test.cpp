#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/update_app.h"
#include "engine/result_messages.h"
#include "support/fakes.h"
#include "unit/image_test_files.h"

namespace portflash {
namespace {

using testing::Bytes;
using testing::MarkedLoader;
using testing::Product;
using testing::Record;

const char* const kNoLoader = "No Loader file found for agent filename";

std::string Text(const char* text) {
  return text != nullptr ? text : "<null>";
}

int CountMessages(const CUpdateApp& app) {
  int count = 0;
  for (ResultMessage* node = app.GetResultMessages(); node != nullptr; node = node->next) ++count;
  return count;
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
    agent_ =
        dir_.Write("images/kvr-agent.bin", Product("NIMBREL7010") + Record('I', "") + "image body");
  }

  // Sets the agent path without resolving it, as start-up does.
  void SetUnresolvedAgentPath(const std::string& path) {
    profile_.sections["Last Bin File"]["Filename"] = path;
    app_.LoadLastAgentPath();
  }

  testing::TempDir dir_;
  testing::MapProfile profile_;
  testing::RecordingDialogs dialogs_;
  CUpdateApp app_{profile_, dialogs_};
  std::string agent_;
};

TEST_F(ImageSet, ResolvesTheWholeSet) {
  ASSERT_EQ(app_.SetAgentPath(agent_.c_str()), 1);
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(Text(app_.GetAgentPath()), agent_);
  EXPECT_EQ(Text(app_.GetAgentPrefix()), "kvr");
  EXPECT_EQ(Text(app_.GetLoaderPath()), dir_.Dir() + "loaders/kvr.ldr");
  EXPECT_EQ(Text(app_.GetErrorFilePath()), dir_.Dir() + "loaders/kvr.err");
  EXPECT_EQ(Text(app_.GetProductList()), "NIMBREL7010 ");
  EXPECT_EQ(app_.GetLoaderSkip(), 33u);
  EXPECT_EQ(Text(FindResultMessage(app_, 13)), "Own text for 13");
}

TEST_F(ImageSet, UpperCasePrefixFindsTheLowerCaseEntry) {
  std::string agent = dir_.Write("images/KVR-AGENT.BIN", Product("*") + Record('I', ""));
  ASSERT_EQ(app_.SetAgentPath(agent.c_str()), 1);
  EXPECT_EQ(Text(app_.GetAgentPrefix()), "KVR");
  EXPECT_EQ(Text(app_.GetLoaderPath()), dir_.Dir() + "loaders/kvr.ldr");
}

TEST_F(ImageSet, PrefixComesFromTheFileName) {
  const std::pair<std::string, std::string> cases[] = {
      {"kvr0001.bin", "kvr"},    // no separator: the start of the whole path
      {"/a.b/xy", "xy"},         // a two-character name
      {"/img/KvR7.bin", "KvR"},  // case kept
      {"/img/", " "},            // no name at all
  };
  for (const auto& [path, prefix] : cases) {
    SetUnresolvedAgentPath(path);
    EXPECT_EQ(app_.ResolveAgentPrefix(), 1);
    EXPECT_EQ(Text(app_.GetAgentPrefix()), prefix) << path;
  }
}

TEST_F(ImageSet, LoaderThatCannotBeFoundShows126) {
  profile_.sections["LDR Filename"]["tnw"] = "loaders/none.ldr";
  profile_.sections["LDR Filename"]["hpz"] = "loaders";
  profile_.sections["LDR Filename"]["jdq"] = "";
  for (const char* name : {"abc-agent.bin", "tnw-agent.bin", "hpz-agent.bin", "jdq-agent.bin"}) {
    dialogs_.messages.clear();
    std::string agent = dir_.Write(std::string("images/") + name, Product("*") + Record('I', ""));
    EXPECT_EQ(app_.SetAgentPath(agent.c_str()), 0) << name;
    EXPECT_EQ(dialogs_.messages, std::vector<std::string>{kNoLoader}) << name;
    EXPECT_EQ(app_.GetLoaderPath(), nullptr);
    EXPECT_EQ(Text(app_.GetAgentPath()), agent) << "kept for the page and the profile";
  }
  app_.SaveLastAgentPath();
  EXPECT_EQ(profile_.GetString("Last Bin File", "Filename"), dir_.Dir() + "images/jdq-agent.bin");
}

TEST_F(ImageSet, MessageFileReplacesTheLastDotOfTheWholePath) {
  const std::pair<std::string, std::string> cases[] = {
      {"loaders.d/ldr", "loaders.err"},
      {"loaders/kvr.v2.ldr", "loaders/kvr.v2.err"},
      {"loaders/plain", "loaders/plain.err"},  // no dot anywhere
      {"loaders/dot.", "loaders/dot.err"},
  };
  for (const auto& [entry, message] : cases) {
    dir_.Write(entry, MarkedLoader({"X"}));
    profile_.sections["LDR Filename"]["kvr"] = entry;
    app_.SetAgentPath(agent_.c_str());
    EXPECT_EQ(Text(app_.GetErrorFilePath()), dir_.Dir() + message) << entry;
  }
}

TEST_F(ImageSet, ErrorFileStepNeedsALoader) {
  EXPECT_EQ(app_.ResolveErrorFilePath(), 0);
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(app_.GetErrorFilePath(), nullptr);
}

TEST_F(ImageSet, FailedLoaderStepLeavesLaterFieldsAsBefore) {
  ASSERT_EQ(app_.SetAgentPath(agent_.c_str()), 1);
  std::string other = dir_.Write("images/abc.bin", "");
  EXPECT_EQ(app_.SetAgentPath(other.c_str()), 0);
  EXPECT_EQ(Text(app_.GetAgentPath()), other);
  EXPECT_EQ(Text(app_.GetAgentPrefix()), "abc");
  EXPECT_EQ(app_.GetLoaderPath(), nullptr);
  EXPECT_EQ(Text(app_.GetErrorFilePath()), dir_.Dir() + "loaders/kvr.err");
  EXPECT_EQ(Text(app_.GetProductList()), "NIMBREL7010 ");
  EXPECT_EQ(app_.GetLoaderSkip(), 33u);
  EXPECT_EQ(Text(FindResultMessage(app_, 13)), "Own text for 13");
}

TEST_F(ImageSet, FailedProductCheckHasNewLoaderAndNoList) {
  ASSERT_EQ(app_.SetAgentPath(agent_.c_str()), 1);
  profile_.sections["LDR Filename"]["tnw"] = "loaders/tnw.ldr";
  dir_.Write("loaders/tnw.ldr", MarkedLoader({"TANWICK"}));
  dir_.Write("loaders/tnw.err", "[errorfile]\n13 Tanwick 13\n");
  std::string agent = dir_.Write("images/tnw.bin", Product("OTHER") + Record('I', "") + "\x01");
  EXPECT_EQ(app_.SetAgentPath(agent.c_str()), 0);
  EXPECT_EQ(dialogs_.messages,
            std::vector<std::string>{"Unable to get agent record\nCorrupt BIN file?"});
  EXPECT_EQ(Text(app_.GetLoaderPath()), dir_.Dir() + "loaders/tnw.ldr");
  EXPECT_EQ(Text(app_.GetErrorFilePath()), dir_.Dir() + "loaders/tnw.err");
  EXPECT_EQ(Text(FindResultMessage(app_, 13)), "Tanwick 13");
  EXPECT_EQ(app_.GetLoaderSkip(), 4u + 10 + 1);
  EXPECT_EQ(app_.GetProductList(), nullptr);
}

TEST_F(ImageSet, SamePathAgainReloadsEverything) {
  ASSERT_EQ(app_.SetAgentPath(agent_.c_str()), 1);
  EXPECT_EQ(CountMessages(app_), 1);
  dir_.Write("loaders/kvr.err", "[errorfile]\n13 Second text\n14 Another\n");
  dir_.Write("loaders/kvr.ldr", MarkedLoader({"NIMBREL7010"}));
  ASSERT_EQ(app_.SetAgentPath(agent_.c_str()), 1);
  EXPECT_EQ(CountMessages(app_), 2) << "the old list is emptied first";
  EXPECT_EQ(Text(FindResultMessage(app_, 13)), "Second text");
  EXPECT_EQ(app_.GetLoaderSkip(), 4u + 14 + 1);
  // Without the file the built-in texts come back, not added to the old ones.
  std::filesystem::remove(dir_.Path("loaders/kvr.err"));
  ASSERT_EQ(app_.SetAgentPath(agent_.c_str()), 1);
  EXPECT_EQ(CountMessages(app_), 26);
  EXPECT_EQ(Text(FindResultMessage(app_, 13)), "ERROR: Wrong hardware type");
}

TEST_F(ImageSet, PathsOf260CharactersAreRefused) {
  std::string longest = "/" + std::string(258, 'a');
  SetUnresolvedAgentPath(longest);
  EXPECT_EQ(app_.SetAgentPath((longest + "b").c_str()), 0);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].rfind("The agent file path is too long\n", 0), 0u);
  EXPECT_EQ(Text(app_.GetAgentPath()), longest + "b");
  EXPECT_EQ(app_.GetAgentPrefix(), nullptr) << "nothing was resolved";

  // 259 characters pass; this one then has no loader entry.
  dialogs_.messages.clear();
  EXPECT_EQ(app_.SetAgentPath(longest.c_str()), 0);
  EXPECT_EQ(dialogs_.messages, std::vector<std::string>{kNoLoader});

  // The program directory and the entry together.
  dialogs_.messages.clear();
  profile_.sections["LDR Filename"]["kvr"] = std::string(260 - dir_.Dir().size(), 'l');
  EXPECT_EQ(app_.SetAgentPath(agent_.c_str()), 0);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].rfind("The loader file path is too long\n", 0), 0u);
  EXPECT_EQ(app_.GetLoaderPath(), nullptr);

  // A loader of 258 characters without a dot: its message file would need 262.
  dialogs_.messages.clear();
  std::string entry = "loaders/" + std::string(258 - 8 - dir_.Dir().size(), 'n');
  dir_.Write(entry, MarkedLoader({"NIMBREL7010"}));
  profile_.sections["LDR Filename"]["kvr"] = entry;
  EXPECT_EQ(app_.SetAgentPath(agent_.c_str()), 0);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].rfind("The message file path is too long\n", 0), 0u);
  EXPECT_EQ(Text(app_.GetLoaderPath()), dir_.Dir() + entry);
  EXPECT_EQ(app_.GetErrorFilePath(), nullptr);
  EXPECT_EQ(app_.GetProductList(), nullptr);
}

TEST_F(ImageSet, AbbreviatedPathKeepsHeadAndTail) {
  // 35 characters, as C:\Images\firmware\unit\agent01.bin.
  const std::string path = "/Images/firmware/unit/agent0001.bin";
  ASSERT_EQ(path.size(), 35u);
  SetUnresolvedAgentPath(path);
  EXPECT_EQ(app_.GetAbbreviatedAgentPath(30), "/.../firmware/unit/agent0001.bin");
  EXPECT_EQ(app_.GetAbbreviatedAgentPath(35), "/.../firmware/unit/agent0001.bin");
  EXPECT_EQ(app_.GetAbbreviatedAgentPath(36), path);
  EXPECT_EQ(app_.GetAbbreviatedAgentPath(80), path);
  EXPECT_EQ(app_.GetAbbreviatedAgentPath(20), "/.../unit/agent0001.bin");
  EXPECT_EQ(app_.GetAbbreviatedAgentPath(-1), path) << "compared unsigned";

  // The first separator is not at the start: the head runs up to it.
  SetUnresolvedAgentPath("C:/Images/firmware/unit/agent01.bin");
  EXPECT_EQ(app_.GetAbbreviatedAgentPath(30), "C:/.../firmware/unit/agent01.bin");

  // 38 characters with no separator far enough right: the tail is the last component.
  SetUnresolvedAgentPath("/abc/averyveryverylongfilename0001.bin");
  EXPECT_EQ(app_.GetAbbreviatedAgentPath(30), "/.../averyveryverylongfilename0001.bin");

  SetUnresolvedAgentPath("agent-without-any-separator.bin");
  EXPECT_EQ(app_.GetAbbreviatedAgentPath(30), "...agent-without-any-separator.bin");
  EXPECT_EQ(app_.GetAbbreviatedAgentPath(31), "...agent-without-any-separator.bin");
  EXPECT_EQ(app_.GetAbbreviatedAgentPath(32), "agent-without-any-separator.bin");
}

TEST_F(ImageSet, LastAgentPathRoundTrip) {
  app_.LoadLastAgentPath();
  EXPECT_EQ(app_.GetAgentPath(), nullptr) << "no entry";
  profile_.sections["Last Bin File"]["filename"] = "/old/kvr.bin";
  app_.SaveLastAgentPath();
  EXPECT_TRUE(profile_.sections["Last Bin File"].empty()) << "a null path removes the entry";

  app_.SetAgentPath("/new/kvr.bin");
  app_.SaveLastAgentPath();
  CUpdateApp next(profile_, dialogs_);
  next.LoadLastAgentPath();
  EXPECT_EQ(Text(next.GetAgentPath()), "/new/kvr.bin");
  EXPECT_EQ(next.GetAgentPrefix(), nullptr) << "loading resolves nothing";
}

TEST_F(ImageSet, AppDirIsTheExecutablesDirectory) {
  CUpdateApp app(profile_, dialogs_);
  app.InitAppDir();
  std::filesystem::path exe = std::filesystem::canonical("/proc/self/exe");
  EXPECT_EQ(Text(app.GetAppDir()), exe.parent_path().string() + "/");
}

}  // namespace
}  // namespace portflash
