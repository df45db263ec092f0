#include "qt/qsettings_profile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QSettings>
#include <QStringList>
#include <filesystem>
#include <fstream>
#include <string>

namespace portflash {
namespace {

namespace fs = std::filesystem;

// QSettings reads XDG_CONFIG_HOME and XDG_CONFIG_DIRS once, at its first use, so both
// point at private directories before main runs. The files are written by hand, as
// an installation and a user would; tests that write keep to sections of their own.
class ProfileDirs {
 public:
  ProfileDirs() {
    std::string pattern = (fs::temp_directory_path() / "pfqsXXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
    Write(root_ / "user" / "Tarvex Corporation" / "Portflash.conf",
          "[LDR Filename]\n"
          "kvr=loaders/user-kvr.ldr\n"
          "TNW=loaders/tnw.ldr\n"
          "jdq=loaders/user-jdq.ldr\n"
          "\n"
          "[ports]\n"
          "COM2=/dev/ttyACM0\n"
          "\n"
          "[last bin file]\n"
          "filename=/images/old.bin\n"
          "\n"
          "[Fallback Test]\n"
          "KEY=user\n");
    Write(root_ / "system" / "Tarvex Corporation" / "Portflash.conf",
          "[LDR%20Filename]\n"
          "kvr=loaders/system-kvr.ldr\n"
          "hpz=loaders/hpz.ldr\n"
          "JDQ=loaders/system-jdq.ldr\n"
          "\n"
          "[Ports]\n"
          "COM1=/dev/ttyUSB0\n"
          "\n"
          "[Install%20Version]\n"
          "Version=1.0.0\n"
          "\n"
          "[Fallback%20Test]\n"
          "key=system\n");
    setenv("XDG_CONFIG_HOME", (root_ / "user").c_str(), 1);
    // The installation's file is not in the first system directory.
    setenv("XDG_CONFIG_DIRS",
           ((root_ / "site").string() + ":" + (root_ / "system").string()).c_str(), 1);
  }
  ~ProfileDirs() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  fs::path UserFile() const { return root_ / "user" / "Tarvex Corporation" / "Portflash.conf"; }

 private:
  static void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
  }
  fs::path root_;
};

const ProfileDirs g_dirs;

std::string ReadUserFile() {
  std::ifstream in(g_dirs.UserFile());
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(QSettingsProfile, SectionAndEntryNamesIgnoreCase) {
  QSettingsProfile profile;
  EXPECT_EQ(profile.GetString("LDR Filename", "kvr"), "loaders/user-kvr.ldr");
  EXPECT_EQ(profile.GetString("ldr filename", "KVR"), "loaders/user-kvr.ldr");
  EXPECT_EQ(profile.GetString("LDR FILENAME", "tnw"), "loaders/tnw.ldr");
  EXPECT_EQ(profile.GetString("Last Bin File", "Filename"), "/images/old.bin");
  EXPECT_EQ(profile.GetString("LDR Filename", "xyz"), "");
  EXPECT_EQ(profile.GetString("No Such Section", "kvr"), "");
}

TEST(QSettingsProfile, SystemFileFillsInWhatTheUserFileLacks) {
  QSettingsProfile profile;
  EXPECT_EQ(profile.GetString("LDR Filename", "hpz"), "loaders/hpz.ldr");
  EXPECT_EQ(profile.GetString("install version", "VERSION"), "1.0.0");
  // The user's "[LDR Filename]" and the system's "[LDR%20Filename]" are one section:
  // the user's entry hides the system's.
  EXPECT_EQ(profile.GetString("LDR Filename", "kvr"), "loaders/user-kvr.ldr");
}

TEST(QSettingsProfile, UserEntryWinsWhateverTheSpellings) {
  QSettingsProfile profile;
  // User "jdq" against system "JDQ": still one entry, the user's.
  EXPECT_EQ(profile.GetString("LDR Filename", "JDQ"), "loaders/user-jdq.ldr");
  EXPECT_EQ(profile.GetString("LDR Filename", "jdq"), "loaders/user-jdq.ldr");
  // User "[ports]" and system "[Ports]": entries of both are found.
  EXPECT_EQ(profile.GetString("Ports", "COM1"), "/dev/ttyUSB0");
  EXPECT_EQ(profile.GetString("Ports", "COM2"), "/dev/ttyACM0");
}

TEST(QSettingsProfile, HandWrittenGroupNameReadsAsEncoded) {
  QSettings user(QSettings::NativeFormat, QSettings::UserScope, "Tarvex Corporation", "Portflash");
  user.setFallbacksEnabled(false);
  EXPECT_TRUE(user.childGroups().contains("LDR Filename"));
  EXPECT_EQ(user.value("LDR Filename/kvr").toString().toStdString(), "loaders/user-kvr.ldr");
}

TEST(QSettingsProfile, WriteReplacesEveryCaseOfTheEntry) {
  QSettingsProfile profile;
  profile.WriteString("Last Bin File", "Filename", "/images/new.bin");
  EXPECT_EQ(profile.GetString("last bin file", "FILENAME"), "/images/new.bin");
  EXPECT_EQ(QSettingsProfile().GetString("Last Bin File", "Filename"), "/images/new.bin");
  std::string text = ReadUserFile();
  EXPECT_EQ(text.find("old.bin"), std::string::npos) << text;
  EXPECT_NE(text.find("/images/new.bin"), std::string::npos) << text;

  profile.RemoveEntry("LAST BIN FILE", "filename");
  EXPECT_EQ(profile.GetString("Last Bin File", "Filename"), "");
  EXPECT_EQ(ReadUserFile().find("new.bin"), std::string::npos);
  // The other sections survive the rewrite of the file.
  EXPECT_EQ(profile.GetString("LDR Filename", "tnw"), "loaders/tnw.ldr");
}

TEST(QSettingsProfile, RemovingTheUserEntryUncoversTheSystemOne) {
  QSettingsProfile profile;
  EXPECT_EQ(profile.GetString("Fallback Test", "key"), "user");
  profile.RemoveEntry("Fallback Test", "Key");
  EXPECT_EQ(profile.GetString("Fallback Test", "key"), "system");
  profile.WriteString("fallback test", "KEY", "again");
  EXPECT_EQ(profile.GetString("Fallback Test", "key"), "again");
}

}  // namespace
}  // namespace portflash
