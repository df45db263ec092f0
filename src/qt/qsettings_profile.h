#pragma once
#include <string>

#include "app/profile.h"

namespace portflash {

// The profile in QSettings("Tarvex Corporation", "Portflash"): the user's file,
// falling back to the system-wide one. Section and entry names match without
// regard to case, as the registry's do.
class QSettingsProfile : public Profile {
 public:
  QSettingsProfile();
  std::string GetString(const std::string& section, const std::string& entry) override;
  void WriteString(const std::string& section, const std::string& entry,
                   const std::string& value) override;
  void RemoveEntry(const std::string& section, const std::string& entry) override;
};

}  // namespace portflash
