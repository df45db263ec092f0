// The wizard against portflash-sim on a real pseudo-terminal: whole runs,
// "Again?", Cancel during a download, and the program's start-up and exit (in a
// child process running the program's own main flow).
#include <QApplication>
#include <QLineEdit>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>

#include "engine/result_code.h"
#include "gui/program.h"
#include "gui/text.h"
#include "qt/qsettings_profile.h"
#include "res/string_table.h"
#include "support/child_process.h"
#include "support/sim_process.h"
#include "wizard_harness.h"

using namespace portflash;
using namespace portflash::testing;
using namespace std::chrono_literals;

namespace {

const std::string kPowerOff = LoadStringResource(IDS_POWER_OFF);
const std::string kUpdateOk = LoadStringResource(IDS_UPDATE_OK);

std::string SelfPath() {
  return QCoreApplication::applicationFilePath().toStdString();
}

// ---- The child process: the program's main flow, driven by a script ----------

// Walks the wizard the way a user would, one step per tick, printing what the
// parent test checks. Modes: "result-wait" (flash, then cancel while the unit
// is being waited for, then close) and "show-path" (print step 3's path, close).
class ChildScript : public QObject {
 public:
  ChildScript(std::string mode, std::string agent)
      : m_mode(std::move(mode)), m_agent(std::move(agent)) {}

  void Start(CBaseWizard& wizard, GuiContext& context) {
    m_wizard = &wizard;
    context.dialogs.SetAutoAnswer([](QtDialogs::Kind, const std::string& text) {
      std::printf("box: %s\n", text.c_str());
      std::fflush(stdout);
      return true;
    });
    connect(&m_timer, &QTimer::timeout, this, [this] { Tick(); });
    m_timer.start(50);
  }

 private:
  void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  void Fail(const std::string& why) {
    Say("FAIL " + why);
    std::_Exit(3);
  }
  void Click(QWizard::WizardButton which) { m_wizard->button(which)->click(); }
  void Expect(int id) {
    if (m_wizard->currentId() != id) Fail("on page " + std::to_string(m_wizard->currentId()));
  }

  void Tick() {
    if (m_busy || !m_wizard->isVisible()) return;
    m_busy = true;
    switch (m_step++) {
      case 0:
        Click(QWizard::NextButton);
        Expect(CBaseWizard::kCommPage);
        break;
      case 1:
        Click(QWizard::NextButton);
        Expect(CBaseWizard::kBinFilePage);
        break;
      case 2:
        if (m_mode == "show-path") {
          Say("path=" + ToCore(m_wizard->BinFilePage().PathEdit()->text()));
          Click(QWizard::CancelButton);
          break;
        }
        m_wizard->BinFilePage().PathEdit()->setText(FromCore(m_agent));
        Click(QWizard::NextButton);
        Expect(CBaseWizard::kPowerOffPage);
        break;
      case 3:
        Click(QWizard::NextButton);
        Expect(CBaseWizard::kDownloadPage);
        break;
      case 4:
        // The loader is out and the unit is being waited for.
        if (m_wizard->DownloadPage().BootBar()->value() != 100) {
          --m_step;
          break;
        }
        Say("cancel");
        Click(QWizard::CancelButton);  // answered Yes
        Say(m_wizard->isVisible() ? "still open" : "closed");
        break;
      case 5:
        Click(QWizard::CancelButton);  // no download now: closes
        break;
      default:
        break;
    }
    m_busy = false;
  }

  std::string m_mode;
  std::string m_agent;
  CBaseWizard* m_wizard = nullptr;
  QTimer m_timer;
  int m_step = 0;
  bool m_busy = false;
};

// argv: self --child MODE APPDIR AGENT
int RunChild(int argc, char** argv) {
  if (argc < 5) return 2;
  QApplication application(argc, argv);
  ChildScript script(argv[2], argv[4]);
  ProgramHooks hooks;
  const std::string appDir = argv[3];
  hooks.configure = [&](CUpdateApp& app) { app.SetAppDir(appDir.c_str()); };
  hooks.started = [&](CBaseWizard& wizard, GuiContext& context) { script.Start(wizard, context); };
  const int status = RunPortflash(hooks);
  std::printf("exit %d\n", status);
  std::fflush(stdout);
  return status;
}

}  // namespace

class FlashTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    m_samples = std::make_unique<SampleSet>();
    QVERIFY(m_samples->Ok());
    m_samples->WriteLoaderEntries(m_profile);
  }

  // All five steps against the simulated unit; then "Again?" sends both images
  // once more with the same settings.
  void flashAndAgain() {
    SimProcess sim(PORTFLASH_SIM, {"--save-agent", "{dir}/agent.out"});
    QVERIFY2(sim.Ready(), sim.Log().c_str());
    WizardHarness h(m_profile);
    WalkToDownload(h, sim);

    QVERIFY(h.WaitForText(kPowerOff));
    QVERIFY2(h.WaitForText(kUpdateOk, 1, 30000), sim.Log().c_str());
    CDownloadPage& page = h.Download();
    QAbstractButton* again = h.Button(QWizard::FinishButton);
    QCOMPARE(again->text(), QStringLiteral("Again?"));
    // The thread has cleared the download; the next tick shows it.
    QTRY_VERIFY_WITH_TIMEOUT(again->isEnabled(), 1500);
    QTRY_VERIFY_WITH_TIMEOUT(page.AgentEstimate()->text().startsWith("Took: "), 1500);
    QCOMPARE(page.BootBar()->value(), 100);
    QCOMPARE(page.AgentBar()->value(), 100);
    QCOMPARE(page.SyncBar()->value() % 5, 0);
    QCOMPARE(page.BootPercent()->text(), QStringLiteral("Complete"));
    QCOMPARE(page.AgentPercent()->text(), QStringLiteral("Complete"));
    QVERIFY(page.BootEstimate()->text().startsWith("Took: "));
    QCOMPARE(page.BootFile()->text(), FromCore(m_samples->Loader()));
    QCOMPARE(page.AgentFile()->text(), FromCore(m_samples->Agent()));
    QCOMPARE(h.Texts(), std::vector<std::string>({kPowerOff, kUpdateOk}));
    QTRY_COMPARE(sim.Report().size(), std::size_t(1));
    QVERIFY2(sim.Report()[0].rfind("ok ", 0) == 0, sim.Report()[0].c_str());
    QCOMPARE(ReadFile(sim.File("agent.out")), ReadFile(m_samples->Agent()));

    again->click();
    QVERIFY(!again->isEnabled());
    QVERIFY(h.App().IsDownloadSet());
    QCOMPARE(page.BootPercent()->text(), QString());
    QVERIFY(h.WaitForText(kUpdateOk, 2, 30000));
    QTRY_VERIFY_WITH_TIMEOUT(again->isEnabled(), 1500);
    QTRY_COMPARE(sim.Report().size(), std::size_t(2));
    QVERIFY2(sim.Report()[1].rfind("ok ", 0) == 0, sim.Report()[1].c_str());
    QCOMPARE(h.Count(kPowerOff), 2);
  }

  // Cancel while the unit is being called: No changes nothing, Yes stops the
  // download at once, resets the display and keeps the wizard open.
  void cancelNoThenYes() {
    SimProcess sim(PORTFLASH_SIM, {"--silent"});
    QVERIFY2(sim.Ready(), sim.Log().c_str());
    WizardHarness h(m_profile);
    WalkToDownload(h, sim);
    QVERIFY(h.WaitForText(kPowerOff));
    CDownloadPage& page = h.Download();
    QTRY_VERIFY(page.SyncBar()->value() >= 10);

    h.AnswerYesNo(false);
    h.Cancel();
    QCOMPARE(h.Texts().back(), std::string(LoadStringResource(IDS_CANCEL_QUESTION)));
    QVERIFY(h.Wizard().isVisible());
    QVERIFY(h.App().IsDownloadSet());
    const int before = page.SyncBar()->value();
    QTRY_VERIFY(page.SyncBar()->value() != before);  // still calling the unit

    h.AnswerYesNo(true);
    QElapsedTimer stopping;
    stopping.start();
    h.Cancel();
    QVERIFY2(stopping.elapsed() < 3000, QByteArray::number(stopping.elapsed()));
    QVERIFY(!h.App().IsDownloadSet());
    QVERIFY(h.Context().downloads.AllEnded());
    QVERIFY(h.Wizard().isVisible());
    QCOMPARE(page.SyncBar()->value(), 0);
    QCOMPARE(page.BootFile()->text(), QString());
    QTRY_VERIFY_WITH_TIMEOUT(h.Button(QWizard::FinishButton)->isEnabled(), 1500);
    QTest::qWait(300);
    QCOMPARE(page.SyncBar()->value(), 0);  // nothing of the stopped thread arrives late
    // A cancelled download says nothing more.
    QCOMPARE(h.Texts(),
             std::vector<std::string>({kPowerOff, LoadStringResource(IDS_CANCEL_QUESTION),
                                       LoadStringResource(IDS_CANCEL_QUESTION)}));
    h.Cancel();
    QVERIFY(!h.Wizard().isVisible());
  }

  // The program itself: flash, cancel while the unit is being waited for after
  // the loader, close; the process ends well within StopDownload's 10 s and
  // saves the agent path, which the next run shows on step 3.
  void exitDuringResultWaitAndLastPathKept() {
    // The unit takes a minute to answer an image: the PC stays in its result wait.
    SimProcess sim(PORTFLASH_SIM, {"--idle-ms", "60000"});
    QVERIFY2(sim.Ready(), sim.Log().c_str());
    m_profile.WriteString("Ports", "COM1", sim.Device());
    m_profile.RemoveEntry("Last Bin File", "Filename");

    ChildProcess child;
    QVERIFY(child.Start(ChildOptions("result-wait")));
    QVERIFY2(child.WaitForOutput("cancel\n", 30s), (child.Stdout() + child.Stderr()).c_str());
    const int status = child.Wait(15s);
    const std::string out = child.Stdout();
    QVERIFY2(status == 0, (out + child.Stderr()).c_str());
    QVERIFY2(child.LastWaitTime() < 10s, out.c_str());
    QVERIFY2(out.find("closed") == std::string::npos,
             out.c_str());  // the first Cancel keeps it open
    QVERIFY2(out.find("box: " + kPowerOff) != std::string::npos, out.c_str());
    QVERIFY2(out.find("box: " + kUpdateOk) == std::string::npos, out.c_str());
    QVERIFY2(out.find("exit 0") != std::string::npos, out.c_str());
    QCOMPARE(m_profile.GetString("Last Bin File", "Filename"), m_samples->Agent());

    ChildProcess next;
    QVERIFY(next.Start(ChildOptions("show-path")));
    QCOMPARE(next.Wait(15s), 0);
    QVERIFY2(next.Stdout().find("path=" + m_samples->Agent() + "\n") != std::string::npos,
             next.Stdout().c_str());
  }

 private:
  void WalkToDownload(WizardHarness& h, SimProcess& sim) {
    m_profile.WriteString("Ports", "COM1", sim.Device());
    h.App().SetAppDir(m_samples->AppDir().c_str());
    QVERIFY(h.Show());
    QVERIFY(h.Next());
    QVERIFY2(h.Next(), h.Texts().empty() ? "" : h.Texts().back().c_str());
    h.Wizard().BinFilePage().PathEdit()->setText(FromCore(m_samples->Agent()));
    QVERIFY2(h.Next(), h.Texts().empty() ? "" : h.Texts().back().c_str());
    QVERIFY(h.Next());
    QCOMPARE(h.CurrentId(), int(CBaseWizard::kDownloadPage));
  }

  ChildProcess::Options ChildOptions(const std::string& mode) {
    ChildProcess::Options options;
    options.argv = {SelfPath(), "--child", mode, m_samples->AppDir(), m_samples->Agent()};
    return options;
  }

  std::unique_ptr<SampleSet> m_samples;
  QSettingsProfile m_profile;
};

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--child") return RunChild(argc, argv);
  return RunGuiTests(argc, argv, [](int count, char** args) {
    FlashTest test;
    return QTest::qExec(&test, count, args);
  });
}

#include "gui_flash_test.moc"
