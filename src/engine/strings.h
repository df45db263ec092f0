#pragma once
#include <cstddef>
#include <memory>

namespace portflash {

// Heap strings in the program's own manner: malloc'd, NUL-terminated, 8-bit.
char* DupString(const char* text);  // "" is copied as " "; null gives null
void FreeString(char* text);        // null is fine
char* CopyLeft(const char* text, std::size_t count);
char* LowerString(char* text);  // in place, A-Z only
int StringsEqual(const char* a, const char* b);

// Owning holder for the heap strings above.
struct StringFree {
  void operator()(char* text) const { FreeString(text); }
};
using HeapString = std::unique_ptr<char, StringFree>;

}  // namespace portflash
