// The wizard: the download page's display as the engine drives it from its own
// thread; what steps 3 and 4 show of the files; a technician's session against
// portflash-sim on a real pseudo-terminal; and the program's own start-up and exit
// (in a child process running its main flow).
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include "app/update_app.h"
#include "engine/result_code.h"
#include "gui/base_wizard.h"
#include "gui/download_page.h"
#include "gui/gui_context.h"
#include "gui/gui_progress_view.h"
#include "gui/path_label.h"
#include "gui/program.h"
#include "gui/qt_dialogs.h"
#include "gui/setup_pages.h"
#include "gui/text.h"
#include "qt/qsettings_profile.h"
#include "res/string_table.h"
#include "support/child_process.h"
#include "support/fakes.h"
#include "support/harness.h"

using namespace portflash;
using namespace portflash::testing;
using namespace std::chrono_literals;

namespace {

// The real wizard, its boxes answered (OK; Yes when `yes`) and recorded. Its end is
// the program's: the application object must outlive every thread that uses it.
struct Harness {
  explicit Harness(Profile& profile) : app(profile, dialogs) {
    AttachGui(app, progress);
    dialogs.SetAutoAnswer([this](QtDialogs::Kind kind, const std::string&) {
      return kind == QtDialogs::Kind::Message || yes;
    });
    wizard = std::make_unique<CBaseWizard>(context);
    dialogs.SetParentWidget(wizard.get());
  }
  ~Harness() {
    DetachGui(app, dialogs);
    wizard.reset();
    app.StopDownload();
    if (!QTest::qWaitFor([this] { return context.downloads.AllEnded(); }, 20000)) std::abort();
  }
  bool Click(QWizard::WizardButton which) {  // true when the page changed
    const int before = wizard->currentId();
    wizard->button(which)->click();
    return wizard->currentId() != before;
  }
  QStringList Texts() const {
    QStringList texts;
    for (const std::string& text : dialogs.Texts()) texts << FromCore(text);
    return texts;
  }
  bool WaitForText(int id, int count = 1, int timeoutMs = 10000) const {
    return QTest::qWaitFor([&] { return Texts().count(StringResource(id)) >= count; }, timeoutMs);
  }

  QtDialogs dialogs;
  GuiProgressView progress;
  CUpdateApp app;
  GuiContext context{app, dialogs, progress, {}};
  std::unique_ptr<CBaseWizard> wizard;
  bool yes = false;
};

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// ---- The child process: the program's main flow, driven as a user would ----

// Enter twice reaches step 3; an empty box there gets the agent and Enter goes on to
// step 4. Escape closes.
void Keys(CBaseWizard& wizard, const std::string& agent) {
  QApplication::setActiveWindow(&wizard);
  if (!QTest::qWaitForWindowActive(&wizard)) Say("not active");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QLineEdit* box = wizard.BinFilePage().PathEdit();
  Say((QApplication::focusWidget() == box ? "focus " : "no focus ") + ToCore(box->text()));
  if (box->text().isEmpty()) {
    box->setText(FromCore(agent));
    QTest::keyClick(box, Qt::Key_Return);
  }
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
}

// argv: self --child APPDIR AGENT. Boxes are answered Yes/OK and printed.
int RunChild(int argc, char** argv) {
  QApplication application(argc, argv);
  const std::string agent = argv[3];
  ProgramHooks hooks;
  hooks.configure = [&](CUpdateApp& app) { app.SetAppDir(argv[2]); };
  hooks.started = [&](CBaseWizard& wizard, GuiContext& context) {
    context.dialogs.SetAutoAnswer([](QtDialogs::Kind, const std::string& text) {
      Say("box: " + text);
      return true;
    });
    QTimer::singleShot(0, &wizard, [&] { Keys(wizard, agent); });
  };
  const int status = RunPortflash(hooks);
  Say("exit " + std::to_string(status));
  return status;
}

}  // namespace

class WizardTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(m_samples.Ok());
    m_profile.WriteString("LDR Filename", "kvr", "loaders/kvr.ldr");
  }

  // The engine's calls come from the download thread; the page shows what they
  // posted on the timer's tick. Pulses move the synchronisation bar by 5, the image
  // bars add the deltas, a step past 100 starts over, and done fills the bar.
  void display() {
    Harness h(m_profile);
    CDownloadPage& page = h.wizard->DownloadPage();
    const auto shown = [&](const std::function<void(CUpdateApp&)>& calls) {
      std::thread([&] { calls(h.app); }).join();
      QCoreApplication::sendPostedEvents(&page, QEvent::MetaCall);
      page.OnTimer();
      QStringList texts;
      for (const QProgressBar* bar : {page.SyncBar(), page.BootBar(), page.AgentBar()}) {
        texts << QString::number(bar->value());
      }
      return texts << page.BootPercent()->text() << page.BootEstimate()->text()
                   << page.AgentPercent()->text() << page.AgentEstimate()->text();
    };
    const auto pulse = [](CUpdateApp& app, int times) {
      for (int i = 0; i < times; ++i) app.StepProgress(PROGRESS_SYNC, 0);
    };
    QCOMPARE(shown([&](CUpdateApp& app) {
               pulse(app, 3);
               app.StepProgress(PROGRESS_BOOT, 30);
               app.StepProgress(PROGRESS_BOOT, 12);
               app.StepProgress(PROGRESS_AGENT, 60);
               app.ShowEstimate(PROGRESS_BOOT, 42, 75);
               app.ShowEstimate(PROGRESS_AGENT, 0, 6000);  // minutes are not cut to two digits
             }),
             QStringList({"15", "42", "60", "42% Done", "Time left: 01:15", "0% Done",
                          "Time left: 100:00"}));
    // Up to 100 exactly, then one step past it.
    QCOMPARE(shown([&](CUpdateApp& app) {
               pulse(app, 18);
               app.StepProgress(PROGRESS_AGENT, 40);
               app.StepProgress(PROGRESS_AGENT, 1);
               app.ShowComplete(PROGRESS_BOOT);
               app.ShowTook(PROGRESS_AGENT, 37);
             }),
             QStringList({"0", "100", "0", "Complete", "Waiting for device to complete...",
                          "0% Done", "Took: 37 secs"}));
  }

  // A download thread waiting for a box is let go (No) when the GUI shuts down,
  // and a later box is answered at once; the request left posted shows nothing.
  void boxesAtShutdown() {
    QtDialogs dialogs;  // no auto-answer: a box would really be shown
    std::atomic<int> noes{0};
    const auto ask = [&] { noes += dialogs.AskYesNo("?") ? 0 : 1; };
    std::thread asker(ask);
    QDeadlineTimer deadline(5000);
    while (dialogs.Records().empty() && !deadline.hasExpired()) QThread::msleep(1);
    dialogs.BeginShutdown();
    asker.join();
    std::thread(ask).join();
    QCOMPARE(noes.load(), 2);
    QCoreApplication::processEvents();
  }

  // Every case of ".bin" is listed, also by a dialog that matches patterns
  // case-sensitively (as the desktop's may), and a name typed without extension
  // finds the file whatever the case of its extension.
  void browseListsEveryCaseAndFindsATypedNameWithoutExtension() {
    const QString dir = FromCore(m_dir.Path()) + "/browse";
    for (const char* name : {"a.bin", "b.BIN", "c.Bin", "kvr-agent.bIn", "notes.txt"}) {
      QVERIFY(WriteFile(ToCore(dir + "/" + name), "x"));
    }
    BinFileDialog dialog(nullptr);
    const QString filter = dialog.nameFilters().constFirst();
    const QStringList patterns =
        filter.mid(filter.indexOf(u'(') + 1).chopped(1).split(u' ', Qt::SkipEmptyParts);
    QCOMPARE(QDir(dir).entryList(patterns, QDir::Files | QDir::CaseSensitive, QDir::Name),
             QStringList({"a.bin", "b.BIN", "c.Bin", "kvr-agent.bIn"}));

    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setDirectory(dir);
    dialog.show();
    dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText("kvr-agent");
    // A "not found" box would stop accept() in its own event loop; closed, it leaves the
    // dialog not accepted.
    QTimer::singleShot(0, [] {
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(WithBinExtension(dialog.selectedFiles().constFirst()), dir + "/kvr-agent.bIn");
    QCOMPARE(WithBinExtension(dir + "/notes"), dir + "/notes");
  }

  // Step 4: a 120-character file name is shortened once, with one ellipsis, to the
  // label's width (its own 30-character form does not fit); the tool tip has it whole.
  void confirmationShowsALongPathShortenedOnce() {
    // 120 characters, none to break at
    const std::string path = m_dir.Path() + "/kvr-" + std::string(112, 'n') + ".bin";
    QVERIFY(WriteFile(path, ReadFile(m_samples.Agent())));
    Harness h(m_profile);
    h.app.SetAppDir((m_samples.Dir() + "/").c_str());
    QCOMPARE(h.app.SetAgentPath(path.c_str()), 1);
    CPowerOffPage& page = h.wizard->PowerOffPage();
    page.OnSetActive();

    PathLabel* file = page.FileName();
    QCOMPARE(file->toolTip(), FromCore(path));
    for (int width : {150, 400, 2000}) {
      file->resize(width, file->height());
      const QString shown = file->ShownText();
      QVERIFY2(shown.count(QStringLiteral("...")) + shown.count(QChar(0x2026)) == 1,
               qPrintable(shown));
      QVERIFY(file->fontMetrics().horizontalAdvance(shown) <= file->contentsRect().width());
    }
    QCOMPARE(file->ShownText(), FromCore(h.app.GetAbbreviatedAgentPath(30)));  // it fits
  }

  // One unit: step 2 refuses (Next and Back) a port that does not open; step 3
  // refuses what cannot be flashed; step 4 shows the choice; step 5 flashes. Then
  // "Again?" calls a unit that never answers: Cancel answered No goes on, Yes
  // stops at once, clears the display and keeps the wizard open. (Which reasons a
  // port gives are the serial and CLI tests'.)
  void session() {
    SimProcess sim(PORTFLASH_SIM, {});
    QVERIFY2(sim.Ready(), sim.Log().c_str());
    const std::string missing = sim.File("missing");
    m_profile.WriteString("Ports", "COM1", missing);
    Harness h(m_profile);
    h.app.SetAppDir((m_samples.Dir() + "/").c_str());
    h.wizard->show();
    QApplication::setActiveWindow(h.wizard.get());
    QVERIFY(QTest::qWaitForWindowActive(h.wizard.get()));
    QVERIFY(h.Click(QWizard::NextButton));
    QVERIFY(!h.Click(QWizard::NextButton));
    QVERIFY(!h.Click(QWizard::BackButton));
    QCOMPARE(h.wizard->currentId(), int(CBaseWizard::kCommPage));
    m_profile.WriteString("Ports", "COM1", sim.Device());
    QVERIFY(h.Click(QWizard::NextButton));

    // Which sets are refused is the image-set tests' concern: one stands for them.
    h.wizard->BinFilePage().PathEdit()->setText(FromCore(m_samples.Dir() + "/missing.bin"));
    QVERIFY(!h.Click(QWizard::NextButton));
    h.wizard->BinFilePage().PathEdit()->setText(FromCore(m_samples.Agent()));
    QVERIFY(h.Click(QWizard::NextButton));
    CPowerOffPage& confirm = h.wizard->PowerOffPage();
    QCOMPARE(QStringList(
                 {confirm.PortName()->text(), confirm.Speed()->text(), confirm.BootFile()->text()}),
             QStringList({"COM1", "115200", FromCore(m_samples.Loader())}));

    QVERIFY(h.Click(QWizard::NextButton));
    QVERIFY2(h.WaitForText(IDS_UPDATE_OK, 1, 30000), sim.Log().c_str());
    CDownloadPage& page = h.wizard->DownloadPage();
    QAbstractButton* again = h.wizard->button(QWizard::FinishButton);
    QCOMPARE(again->text(), QStringLiteral("Again?"));
    QTRY_VERIFY(again->isEnabled());  // on the next tick

    SimProcess silent(PORTFLASH_SIM, {"--silent"});
    QVERIFY2(silent.Ready(), silent.Log().c_str());
    m_profile.WriteString("Ports", "COM1", silent.Device());
    again->click();
    QVERIFY(!again->isEnabled());
    QVERIFY(h.WaitForText(IDS_POWER_OFF, 2));
    QTRY_VERIFY(page.SyncBar()->value() >= 10);
    h.Click(QWizard::CancelButton);  // No
    QVERIFY(h.app.IsDownloadSet());
    const int before = page.SyncBar()->value();
    QTRY_VERIFY(page.SyncBar()->value() != before);  // still calling the unit
    h.yes = true;
    QElapsedTimer stopping;
    stopping.start();
    h.Click(QWizard::CancelButton);
    QVERIFY2(stopping.elapsed() < 5000, QByteArray::number(stopping.elapsed()));
    QVERIFY(!h.app.IsDownloadSet());
    QVERIFY(h.wizard->isVisible());
    QCOMPARE(page.SyncBar()->value(), 0);
    QCOMPARE(page.BootFile()->text(), QString());
    QTRY_VERIFY(again->isEnabled());
    QCoreApplication::sendPostedEvents();
    QCOMPARE(page.SyncBar()->value(), 0);  // nothing of the stopped thread arrives late

    const QString noPort =
        StringResource(IDS_OPEN_FAILED) + "\nThe device " + FromCore(missing) + " does not exist.";
    QCOMPARE(h.Texts(),
             QStringList({noPort, noPort, StringResource(IDS_BIN_NOT_FOUND),
                          StringResource(IDS_POWER_OFF), StringResource(IDS_UPDATE_OK),
                          StringResource(IDS_POWER_OFF), StringResource(IDS_CANCEL_QUESTION),
                          StringResource(IDS_CANCEL_QUESTION)}));
    h.Click(QWizard::CancelButton);
    QVERIFY(!h.wizard->isVisible());
  }

  // The program itself keeps the agent path at exit; the next run shows it in step
  // 3's box, where Enter, Enter brings the focus.
  void nextRunShowsTheLastAgent() {
    SimProcess sim(PORTFLASH_SIM, {"--silent"});
    QVERIFY2(sim.Ready(), sim.Log().c_str());
    m_profile.WriteString("Ports", "COM1", sim.Device());
    m_profile.RemoveEntry("Last Bin File", "Filename");
    const ChildProcess::Options child = {
        .argv = {QCoreApplication::applicationFilePath().toStdString(), "--child",
                 m_samples.Dir() + "/", m_samples.Agent()}};
    // The first run types the agent in, the next finds it there; no box on the way.
    for (const std::string& shown : {std::string(), m_samples.Agent()}) {
      ChildProcess run;
      QVERIFY(run.Start(child));
      QCOMPARE(run.Wait(15s), 0);
      QCOMPARE(FromCore(run.Stdout()), FromCore("focus " + shown + "\nexit 0\n"));
    }
  }

 private:
  const SampleSet& m_samples = SampleSet::Get();
  QSettingsProfile m_profile;
  TempDir m_dir;
};

// A throw-away XDG_CONFIG_HOME, so that no test touches the user's profile.
int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--child") return RunChild(argc, argv);
  TempDir config;
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path()));
  QApplication application(argc, argv);
  WizardTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "gui_wizard_test.moc"
