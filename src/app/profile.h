#pragma once
#include <memory>
#include <string>

namespace portflash {

// The per-user profile: sections of named entries. Entry names are matched
// without regard to case; a missing entry reads as the empty text.
class Profile {
 public:
  virtual ~Profile() = default;
  virtual std::string GetString(const std::string& section, const std::string& entry) = 0;
  virtual void WriteString(const std::string& section, const std::string& entry,
                           const std::string& value) = 0;
  virtual void RemoveEntry(const std::string& section, const std::string& entry) = 0;
};

// The user's profile as this system keeps it. Defined beside the system's
// profile class (src/qt: QSettings), which the program links beside the core.
std::unique_ptr<Profile> OpenUserProfile();

}  // namespace portflash
