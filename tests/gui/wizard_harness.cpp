#include "wizard_harness.h"

#include <QApplication>
#include <QLabel>
#include <QSettings>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "gui/program.h"
#include "gui/text.h"

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

WizardHarness::~WizardHarness() {
  Close();
}

bool WizardHarness::Show() {
  m_wizard->show();
  QApplication::setActiveWindow(m_wizard.get());
  return QTest::qWaitForWindowActive(m_wizard.get());
}

bool WizardHarness::Next() {
  const int before = CurrentId();
  Button(QWizard::NextButton)->click();
  return CurrentId() != before;
}

bool WizardHarness::Back() {
  const int before = CurrentId();
  Button(QWizard::BackButton)->click();
  return CurrentId() != before;
}

void WizardHarness::Cancel() {
  Button(QWizard::CancelButton)->click();
}

int WizardHarness::Count(const std::string& text) const {
  int count = 0;
  for (const std::string& asked : Texts()) count += asked == text ? 1 : 0;
  return count;
}

bool WizardHarness::WaitForText(const std::string& text, int count, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (Count(text) < count) {
    if (deadline.hasExpired()) return false;
    QTest::qWait(10);
  }
  return true;
}

void WizardHarness::Close() {
  if (m_closed) return;
  m_closed = true;
  DetachGui(*m_app, m_dialogs);
  m_wizard.reset();
  m_app->StopDownload();
  // The application object must outlive every thread that uses it.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!m_context->downloads.AllEnded() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!m_context->downloads.AllEnded()) std::abort();
  m_app.reset();
}

SampleSet::SampleSet() {
  if (m_dir.Path().empty()) return;
  const std::string command = "python3 '" PORTFLASH_SOURCE_DIR "/scripts/make-sample-set' '" +
                              m_dir.Path() + "' --agent-body 24K --loader-body 12K >/dev/null";
  m_ok = std::system(command.c_str()) == 0;
}

void SampleSet::WriteLoaderEntries(Profile& profile) const {
  QSettings conf(FromCore(m_dir / "profile/Tarvex Corporation/Portflash.conf"),
                 QSettings::IniFormat);
  conf.beginGroup(QStringLiteral("LDR Filename"));
  for (const QString& key : conf.childKeys()) {
    profile.WriteString("LDR Filename", ToCore(key), ToCore(conf.value(key).toString()));
  }
}

QString LabelText(const QWidget* page, const char* objectName) {
  const auto* label = page->findChild<QLabel*>(QString::fromLatin1(objectName));
  return label != nullptr ? label->text() : QStringLiteral("<no label %1>").arg(objectName);
}

}  // namespace portflash::testing

namespace portflash::testing {

int RunGuiTests(int argc, char** argv, const std::function<int(int, char**)>& run) {
  TempDir config;
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path()));
  QApplication application(argc, argv);
  return run(argc, argv);
}

}  // namespace portflash::testing
