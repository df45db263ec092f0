#include "qt/qsettings_profile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QSettings>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>

#include "support/harness.h"

namespace portflash {
namespace {

namespace fs = std::filesystem;

// QSettings reads XDG_CONFIG_HOME and XDG_CONFIG_DIRS once, at its first use, so both
// point at private directories before main runs. The files are written by hand, as a
// user and an installation would (the installation's not in the first system directory).
class ProfileDirs {
 public:
  ProfileDirs() {
    Write("user",
          "[LDR Filename]\nkvr=user-kvr.ldr\nTNW=tnw.ldr\njdq=user-jdq.ldr\n"
          "[last bin file]\nfilename=/images/old.bin\nFILENAME=/images/old2.bin\n"
          "[Values]\nloader=ldr/kvr,v2.ldr\n"
          "semicolon=\"a;b\"\ncomment=a ; the rest is a comment\nblanks=  x, y  \n"
          "quotedBlanks=\"  x, y  \"\nescaped=\"a\\\\b \\\"c\\\"\"\n");
    Write("system",
          "[LDR%20Filename]\nkvr=system-kvr.ldr\nhpz=hpz.ldr\nJDQ=system-jdq.ldr\n"
          "[Install%20Version]\nVersion=1.0.0\n[Values]\nsystem=a,b , c\n");
    setenv("XDG_CONFIG_HOME", (root_ / "user").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (root_ / "site:" + root_ / "system").c_str(), 1);
  }
  std::string UserPath() const { return root_ / "user/Tarvex Corporation/Portflash.conf"; }
  std::string UserFile() const { return testing::ReadFile(UserPath()); }

 private:
  void Write(const std::string& scope, const std::string& text) const {
    if (!testing::WriteFile(root_ / scope + "/Tarvex Corporation/Portflash.conf", text))
      std::abort();
  }
  testing::TempDir root_;
};

const ProfileDirs g_dirs;

// Names match without regard to case; an entry of the user's file hides the system's
// whatever the spellings of both; the system file fills in what the user's lacks.
TEST(QSettingsProfile, ReadsTheUserEntryElseTheSystemOneWithoutRegardToCase) {
  QSettingsProfile profile;
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"LDR Filename", "kvr", "user-kvr.ldr"}, {"LDR FILENAME", "tnw", "tnw.ldr"},
      {"LDR Filename", "JDQ", "user-jdq.ldr"}, {"ldr filename", "hpz", "hpz.ldr"},
      {"install version", "VERSION", "1.0.0"}, {"No Such Section", "kvr", ""},
  };
  for (const auto& [section, entry, value] : cases) {
    EXPECT_EQ(profile.GetString(section, entry), value) << section << "/" << entry;
  }
}

TEST(QSettingsProfile, WriteReplacesEveryCaseOfTheEntryAndRemoveUncoversTheSystemOne) {
  QSettingsProfile profile;
  profile.WriteString("Last Bin File", "Filename", "/images/new.bin");
  EXPECT_EQ(QSettingsProfile().GetString("last bin file", "FILENAME"), "/images/new.bin");
  EXPECT_EQ(g_dirs.UserFile().find("/images/old"), std::string::npos) << g_dirs.UserFile();
  profile.RemoveEntry("LAST BIN FILE", "filename");
  EXPECT_EQ(profile.GetString("Last Bin File", "Filename"), "");
  EXPECT_EQ(g_dirs.UserFile().find("new.bin"), std::string::npos);
  EXPECT_EQ(profile.GetString("LDR Filename", "tnw"), "tnw.ldr");  // the rest survives

  profile.RemoveEntry("Ldr Filename", "KVR");
  EXPECT_EQ(profile.GetString("LDR Filename", "kvr"), "system-kvr.ldr");
  profile.WriteString("ldr filename", "Kvr", "again.ldr");
  EXPECT_EQ(profile.GetString("LDR Filename", "kvr"), "again.ldr");
}

// A value is the whole text after "=", quoted or not: Qt's own reader makes an
// unquoted one with a "," a list, which read as "". What the writer writes (the
// new value and the others it writes back) reads the same here and in Qt's reader.
TEST(QSettingsProfile, ValuesWithCommasReadWholeAndRoundTrip) {
  const std::pair<const char*, const char*> values[] = {
      {"loader", "ldr/kvr,v2.ldr"}, {"semicolon", "a;b"},         {"comment", "a"},
      {"blanks", "x, y"},           {"quotedBlanks", "  x, y  "}, {"escaped", "a\\b \"c\""},
      {"system", "a,b , c"},
  };
  QSettingsProfile profile;
  for (const auto& [entry, value] : values) {
    EXPECT_EQ(profile.GetString("Values", entry), value) << entry;
  }
  const std::string written =
      " ldr/a,b;c=d \"q\" \\ @\t\x01"
      "1 ";
  QSettingsProfile().WriteString("Values", "written", written);
  EXPECT_EQ(QSettingsProfile().GetString("values", "WRITTEN"), written);
  // A copy, so that Qt parses it itself rather than share the profile's parsed file.
  const fs::path copy = g_dirs.UserPath() + ".copy";
  fs::copy_file(g_dirs.UserPath(), copy);
  const QSettings qt(QString::fromStdString(copy.string()), QSettings::IniFormat);
  EXPECT_EQ(qt.value("Values/written").toString().toStdString(), written);
  for (const auto& [entry, value] : values) {  // the rewritten user file, but the system one
    if (std::string(entry) != "system") {
      EXPECT_EQ(qt.value(QStringLiteral("Values/") + entry).toString().toStdString(), value);
    }
  }
  QSettingsProfile().RemoveEntry("Values", "written");
}

}  // namespace
}  // namespace portflash
