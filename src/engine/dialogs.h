#pragma once
#include <string>

namespace portflash {

// Modal message boxes. May be called from the download thread; an implementation
// that owns a GUI must show the box on its GUI thread and return the answer.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void ShowMessage(const std::string& text) = 0;  // OK box
  virtual bool AskYesNo(const std::string& text) = 0;     // true for Yes
};

}  // namespace portflash
