#include "engine/strings.h"

#include <cstdlib>
#include <cstring>

namespace portflash {

char* DupString(const char* text) {
  if (text == nullptr) return nullptr;
  if (*text == '\0') text = " ";
  std::size_t length = std::strlen(text);
  auto* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy != nullptr) std::memcpy(copy, text, length + 1);
  return copy;
}

void FreeString(char* text) {
  std::free(text);
}

char* CopyLeft(const char* text, std::size_t count) {
  auto* copy = static_cast<char*>(std::calloc(count + 1, 1));
  if (copy == nullptr) return nullptr;
  if (text != nullptr) std::strncpy(copy, text, count);
  copy[count] = '\0';
  return copy;
}

char* LowerString(char* text) {
  if (text == nullptr) return nullptr;
  for (char* p = text; *p != '\0'; ++p) {
    if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
  }
  return text;
}

int StringsEqual(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b ? 1 : 0;
  return std::strcmp(a, b) == 0 ? 1 : 0;
}

}  // namespace portflash
