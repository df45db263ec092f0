#pragma once
// The wizard in a test: the real pages, boxes answered by a script and recorded,
// and a shutdown that waits for any download thread it started.
#include <QAbstractButton>
#include <QWizard>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/update_app.h"
#include "gui/base_wizard.h"
#include "gui/download_page.h"
#include "gui/gui_context.h"
#include "gui/gui_progress_view.h"
#include "gui/qt_dialogs.h"
#include "gui/setup_pages.h"
#include "support/child_process.h"
#include "support/harness.h"

namespace portflash::testing {

class WizardHarness {
 public:
  explicit WizardHarness(Profile& profile);
  ~WizardHarness();
  WizardHarness(const WizardHarness&) = delete;
  WizardHarness& operator=(const WizardHarness&) = delete;

  CUpdateApp& App() { return *m_app; }
  CBaseWizard& Wizard() { return *m_wizard; }
  CDownloadPage& Download() { return m_wizard->DownloadPage(); }
  QAbstractButton* Button(QWizard::WizardButton which) { return m_wizard->button(which); }
  int CurrentId() const { return m_wizard->currentId(); }

  bool Show();  // and wait until the wizard is the active window
  // Clicks the button; true when the page changed.
  bool Click(QWizard::WizardButton which);
  bool Next() { return Click(QWizard::NextButton); }
  bool Back() { return Click(QWizard::BackButton); }

  void AnswerYesNo(bool yes) { m_yes = yes; }  // OK boxes are always OK
  std::vector<std::string> Texts() const { return m_dialogs.Texts(); }
  // Spins the event loop until the box has been asked for `count` times.
  bool WaitForText(const std::string& text, int count = 1, int timeoutMs = 10000);

 private:
  QtDialogs m_dialogs;
  GuiProgressView m_progress;
  std::unique_ptr<CUpdateApp> m_app;
  std::unique_ptr<GuiContext> m_context;
  std::unique_ptr<CBaseWizard> m_wizard;
  bool m_yes = false;
};

// main() of a GUI test: a throw-away XDG_CONFIG_HOME (so that no test touches the
// user's profile), the QApplication, then `run`.
int RunGuiTests(int argc, char** argv, const std::function<int(int, char**)>& run);

}  // namespace portflash::testing
