#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"

namespace portflash {

FileHandle OpenRegularFile(const char* path, const char* mode) {
  if (path == nullptr) return nullptr;
  // Not opened at all when it is plainly no file: opening a serial device
  // raises its modem lines even without blocking.
  struct stat info {};
  if (::stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return nullptr;
  }
  FileHandle file(::fdopen(fd, mode));
  if (!file) ::close(fd);
  return file;
}

}  // namespace portflash
