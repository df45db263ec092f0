#include "image/image_files.h"

#include <sys/stat.h>

#include "app/update_app.h"
#include "engine/dialogs.h"

namespace portflash {

void ShowPathTooLong(CUpdateApp& app, const char* what, const std::string& path) {
  app.GetDialogs().ShowMessage(std::string("The ") + what + " path is too long\n" + path +
                               "\nPaths may have at most " + std::to_string(kPathBufferSize - 1) +
                               " characters");
}

FileHandle OpenRegularFile(const char* path, const char* mode) {
  if (path == nullptr) return nullptr;
  FileHandle file(std::fopen(path, mode));
  if (!file) return nullptr;
  struct stat info {};
  if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  return file;
}

}  // namespace portflash
