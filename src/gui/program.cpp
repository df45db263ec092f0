#include "gui/program.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/update_app.h"
#include "gui/artwork.h"
#include "gui/base_wizard.h"
#include "gui/gui_context.h"
#include "gui/gui_progress_view.h"
#include "gui/qt_dialogs.h"
#include "qt/qsettings_profile.h"

namespace portflash {

void AttachGui(CUpdateApp& app, GuiProgressView& progress) {
  app.SetProgressView(&progress);
  // StopDownload waits up to ten seconds: keep painting and answering the
  // download thread meanwhile, but hold the user's input until it is over.
  app.SetEventPump([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20); });
}

void DetachGui(CUpdateApp& app, QtDialogs& dialogs) {
  app.SetProgressView(nullptr);
  dialogs.BeginShutdown();
}

int RunPortflash(const ProgramHooks& hooks) {
  QApplication::setWindowIcon(ApplicationIcon());

  QSettingsProfile profile;
  QtDialogs dialogs;
  GuiProgressView progress;
  auto app = std::make_unique<CUpdateApp>(profile, dialogs);
  AttachGui(*app, progress);
  app->InitAppDir();
  if (hooks.configure) hooks.configure(*app);
  app->LoadLastAgentPath();

  GuiContext context{*app, dialogs, progress, {}};
  {
    CBaseWizard wizard(context);
    dialogs.SetParentWidget(&wizard);
    if (hooks.started) hooks.started(wizard, context);
    wizard.exec();
    DetachGui(*app, dialogs);
  }

  app->Shutdown();  // saves the last agent path, stops a download still set
  if (!context.downloads.AllEnded()) {
    // A download that would not stop within StopDownload's wait still uses the
    // application object: end here rather than free what that thread reads.
    std::fflush(nullptr);
    std::_Exit(EXIT_SUCCESS);
  }
  app.reset();
  return EXIT_SUCCESS;
}

}  // namespace portflash
