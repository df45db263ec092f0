#pragma once
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace portflash {

class CUpdateApp;

// Paths were handled in 260-byte buffers: 259 characters at most.
inline constexpr std::size_t kPathBufferSize = 260;

inline bool PathFits(const std::string& path) {
  return path.size() < kPathBufferSize;
}

// Tells the user that a path is too long; what names the file ("agent file", ...).
void ShowPathTooLong(CUpdateApp& app, const char* what, const std::string& path);

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileClose>;

// Opens path only when it is a regular file: fopen succeeds on a directory here,
// and reading one would look like an empty file.
FileHandle OpenRegularFile(const char* path, const char* mode);

}  // namespace portflash
