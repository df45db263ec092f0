#include "image/image_files.h"

#include "app/update_app.h"
#include "engine/dialogs.h"

namespace portflash {

void ShowPathTooLong(CUpdateApp& app, const char* what, const std::string& path) {
  app.GetDialogs().ShowMessage(std::string("The ") + what + " path is too long\n" + path +
                               "\nPaths may have at most " + std::to_string(kPathBufferSize - 1) +
                               " characters");
}

}  // namespace portflash
