#pragma once
#include <string>

#include "app/profile.h"

namespace portflash {

// The profile in the registry, one string value per entry under
// HKEY_CURRENT_USER\Software\Tarvex Corporation\Portflash\<section>. A value the user has not got
// is read from the same key under HKEY_LOCAL_MACHINE, where an installation puts
// "LDR Filename" and "Install Version". The registry matches key and value names
// without regard to case.
class RegistryProfile : public Profile {
 public:
  explicit RegistryProfile(std::string root = "Software\\Tarvex Corporation\\Portflash");
  std::string GetString(const std::string& section, const std::string& entry) override;
  void WriteString(const std::string& section, const std::string& entry,
                   const std::string& value) override;
  void RemoveEntry(const std::string& section, const std::string& entry) override;

 private:
  std::string m_root;
};

}  // namespace portflash
