#include "platform/win32/registry_profile.h"

#include <windows.h>

#include <memory>
#include <utility>
#include <vector>

namespace portflash {
namespace {

// The value's text; nothing when the key or the value is missing or not text.
bool ReadValue(HKEY root, const std::string& key, const std::string& name, std::string* out) {
  constexpr DWORD kText = RRF_RT_REG_SZ;
  DWORD size = 0;
  if (RegGetValueA(root, key.c_str(), name.c_str(), kText, nullptr, nullptr, &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::vector<char> buffer(size + 1);
    DWORD got = size;
    LONG status =
        RegGetValueA(root, key.c_str(), name.c_str(), kText, nullptr, buffer.data(), &got);
    if (status == ERROR_MORE_DATA) {  // changed since we asked for its size
      size = got;
      continue;
    }
    if (status != ERROR_SUCCESS) return false;
    buffer[got < buffer.size() ? got : buffer.size() - 1] = '\0';
    *out = buffer.data();
    return true;
  }
  return false;
}

}  // namespace

RegistryProfile::RegistryProfile(std::string root) : m_root(std::move(root)) {}

std::string RegistryProfile::GetString(const std::string& section, const std::string& entry) {
  const std::string key = m_root + "\\" + section;
  std::string value;
  if (ReadValue(HKEY_CURRENT_USER, key, entry, &value)) return value;
  if (ReadValue(HKEY_LOCAL_MACHINE, key, entry, &value)) return value;
  return "";
}

void RegistryProfile::WriteString(const std::string& section, const std::string& entry,
                                  const std::string& value) {
  HKEY key = nullptr;
  const std::string path = m_root + "\\" + section;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExA(key, entry.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

void RegistryProfile::RemoveEntry(const std::string& section, const std::string& entry) {
  HKEY key = nullptr;
  const std::string path = m_root + "\\" + section;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
    return;
  }
  RegDeleteValueA(key, entry.c_str());
  RegCloseKey(key);
}

std::unique_ptr<Profile> OpenUserProfile() {
  return std::make_unique<RegistryProfile>();
}

}  // namespace portflash
