#pragma once
// Opening the image set's files; each system has its own.
#include <cstdio>
#include <memory>

namespace portflash {

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileClose>;

// Opens path for reading ("r" or "rb") only when it names a regular file, else
// null. Never waits: a FIFO or a serial device typed as an image would block a
// plain open until a writer or a carrier came. The opened file itself is checked,
// so nothing put in the path's place meanwhile is read.
FileHandle OpenRegularFile(const char* path, const char* mode);

}  // namespace portflash
