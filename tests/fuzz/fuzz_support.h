#pragma once
// Shared by the fuzz targets: a throw-away directory, an application object
// whose message boxes go nowhere, and a way to put bytes into a file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/update_app.h"
#include "support/fakes.h"

namespace portflash::fuzz {

class QuietDialogs : public Dialogs {
 public:
  void ShowMessage(const std::string&) override {}
  bool AskYesNo(const std::string&) override { return false; }
};

struct FuzzWorld {
  FuzzWorld();
  std::string dir;  // with a trailing '/'
  testing::MapProfile profile;
  QuietDialogs dialogs;
};

FuzzWorld& World();
void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size);

}  // namespace portflash::fuzz
