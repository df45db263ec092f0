#pragma once
// The wizard in a test: the real pages, message boxes answered by a script and
// recorded, and a shutdown that waits for any download thread it started.
#include <QAbstractButton>
#include <QString>
#include <QWizard>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/profile.h"
#include "app/update_app.h"
#include "gui/base_wizard.h"
#include "gui/download_page.h"
#include "gui/gui_context.h"
#include "gui/gui_progress_view.h"
#include "gui/qt_dialogs.h"
#include "gui/setup_pages.h"
#include "support/child_process.h"

namespace portflash::testing {

class WizardHarness {
 public:
  explicit WizardHarness(Profile& profile);
  ~WizardHarness();
  WizardHarness(const WizardHarness&) = delete;
  WizardHarness& operator=(const WizardHarness&) = delete;

  CUpdateApp& App() { return *m_app; }
  QtDialogs& Dialogs() { return m_dialogs; }
  GuiContext& Context() { return *m_context; }
  CBaseWizard& Wizard() { return *m_wizard; }
  CDownloadPage& Download() { return m_wizard->DownloadPage(); }

  // Shows the wizard and waits until it is the active window.
  bool Show();
  QAbstractButton* Button(QWizard::WizardButton which) { return m_wizard->button(which); }
  // Clicks the button; for Next and Back, true when the page changed.
  bool Next();
  bool Back();
  void Cancel();
  int CurrentId() const { return m_wizard->currentId(); }

  // How Yes/No boxes are answered (OK boxes are always OK).
  void AnswerYesNo(bool yes) { m_yes = yes; }
  std::vector<std::string> Texts() const { return m_dialogs.Texts(); }
  int Count(const std::string& text) const;
  // Spins the event loop until a box with the text has been asked for `count` times.
  bool WaitForText(const std::string& text, int count = 1, int timeoutMs = 10000);

  // Destroys the wizard (and its pages) but leaves the application connected.
  void DestroyWizard() { m_wizard.reset(); }
  // Closes the wizard and stops what runs, as the program does at exit.
  void Close();

 private:
  QtDialogs m_dialogs;
  GuiProgressView m_progress;
  std::unique_ptr<CUpdateApp> m_app;
  std::unique_ptr<GuiContext> m_context;
  std::unique_ptr<CBaseWizard> m_wizard;
  bool m_yes = false;
  bool m_closed = false;
};

// A sample image set made by scripts/make-sample-set (small bodies), or an empty
// Path() when the script failed.
class SampleSet {
 public:
  SampleSet();
  const std::string& Path() const { return m_dir.Path(); }
  std::string AppDir() const { return m_dir.Path() + "/"; }
  std::string Agent() const { return m_dir / "images/kvr-agent.bin"; }
  std::string Loader() const { return m_dir / "loaders/kvr.ldr"; }
  bool Ok() const { return m_ok; }
  // The "LDR Filename" entries of the set's profile.
  void WriteLoaderEntries(Profile& profile) const;

 private:
  TempDir m_dir;
  bool m_ok = false;
};

// Pictures of the pages in tests' failure output are no use; texts are.
QString LabelText(const QWidget* page, const char* objectName);

}  // namespace portflash::testing

namespace portflash::testing {

// main() of a GUI test: a throw-away XDG_CONFIG_HOME (so that no test reads or
// writes the user's profile), the QApplication, then the test object's cases.
int RunGuiTests(int argc, char** argv, const std::function<int(int, char**)>& run);

}  // namespace portflash::testing
