#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/files.h"

namespace portflash {

FileHandle OpenRegularFile(const char* path, const char* mode) {
  if (path == nullptr) return nullptr;
  // A device name ("COM1", "\\.\pipe\x") opens a device, not a file: refuse it
  // before opening, since opening a serial port raises its modem lines.
  const DWORD attributes = ::GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return nullptr;
  }
  HANDLE handle = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // The opened object itself is checked, so nothing put in the path's place meanwhile
  // is read.
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    ::CloseHandle(handle);
    return nullptr;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    return nullptr;
  }
  FileHandle file(::_fdopen(fd, mode));
  if (!file) ::_close(fd);  // closes the handle too
  return file;
}

}  // namespace portflash
