#pragma once
#include <functional>

namespace portflash {

class CBaseWizard;
class CUpdateApp;
class GuiProgressView;
class QtDialogs;
struct GuiContext;

// Connects the application object to the GUI: progress to the download page,
// and events handled while StopDownload waits.
void AttachGui(CUpdateApp& app, GuiProgressView& progress);
// The wizard has closed: no more progress to a page, no more boxes.
void DetachGui(CUpdateApp& app, QtDialogs& dialogs);

// Seams for the tests, which run the program's start-up and shutdown in a process of their own.
struct ProgramHooks {
  // After InitAppDir, before the last agent path is loaded.
  std::function<void(CUpdateApp&)> configure;
  // The wizard is built and about to run.
  std::function<void(CBaseWizard&, GuiContext&)> started;
};

// The wizard program from start to exit; a QApplication must exist. Returns the exit status.
int RunPortflash(const ProgramHooks& hooks = {});

}  // namespace portflash
