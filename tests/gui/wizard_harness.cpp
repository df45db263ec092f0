#include "wizard_harness.h"

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <cstdlib>

#include "gui/program.h"

namespace portflash::testing {

WizardHarness::WizardHarness(Profile& profile) {
  m_app = std::make_unique<CUpdateApp>(profile, m_dialogs);
  AttachGui(*m_app, m_progress);
  m_context = std::make_unique<GuiContext>(*m_app, m_dialogs, m_progress);
  m_dialogs.SetAutoAnswer([this](QtDialogs::Kind kind, const std::string&) {
    return kind == QtDialogs::Kind::Message || m_yes;
  });
  m_wizard = std::make_unique<CBaseWizard>(*m_context);
  m_dialogs.SetParentWidget(m_wizard.get());
}

// As the program does at exit; the application object must outlive every
// thread that uses it.
WizardHarness::~WizardHarness() {
  DetachGui(*m_app, m_dialogs);
  m_wizard.reset();
  m_app->StopDownload();
  if (!QTest::qWaitFor([this] { return m_context->downloads.AllEnded(); }, 20000)) std::abort();
}

bool WizardHarness::Show() {
  m_wizard->show();
  QApplication::setActiveWindow(m_wizard.get());
  return QTest::qWaitForWindowActive(m_wizard.get());
}

bool WizardHarness::Click(QWizard::WizardButton which) {
  const int before = CurrentId();
  Button(which)->click();
  return CurrentId() != before;
}

bool WizardHarness::WaitForText(const std::string& text, int count, int timeoutMs) {
  return QTest::qWaitFor(
      [&] {
        const std::vector<std::string> texts = Texts();
        return std::count(texts.begin(), texts.end(), text) >= count;
      },
      timeoutMs);
}

int RunGuiTests(int argc, char** argv, const std::function<int(int, char**)>& run) {
  TempDir config;
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path()));
  QApplication application(argc, argv);
  return run(argc, argv);
}

}  // namespace portflash::testing
