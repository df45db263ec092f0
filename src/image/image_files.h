#pragma once
#include <cstddef>
#include <string>

#include "platform/files.h"

namespace portflash {

class CUpdateApp;

// Paths were handled in 260-byte buffers: 259 characters at most.
inline constexpr std::size_t kPathBufferSize = 260;

inline bool PathFits(const std::string& path) {
  return path.size() < kPathBufferSize;
}

// Tells the user that a path is too long; what names the file ("agent file", ...).
void ShowPathTooLong(CUpdateApp& app, const char* what, const std::string& path);

}  // namespace portflash
