// The wizard: the download page's display as the engine drives it from its own
// thread; a technician's session against portflash-sim on a real pseudo-terminal;
// and the program's own start-up and exit (in a child process running its main flow).
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "engine/result_code.h"
#include "gui/program.h"
#include "gui/text.h"
#include "qt/qsettings_profile.h"
#include "res/string_table.h"
#include "wizard_harness.h"

using namespace portflash;
using namespace portflash::testing;
using namespace std::chrono_literals;

namespace {

std::string Text(int id) {
  return LoadStringResource(id);
}

// Texts as Qt Test prints them when they differ.
QString Q(const std::string& text) {
  return QString::fromStdString(text);
}
QStringList Q(const std::vector<std::string>& texts) {
  QStringList list;
  for (const std::string& text : texts) list << Q(text);
  return list;
}

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// ---- The child process: the program's main flow, driven as a user would ----

// To step 5, then Cancel (answered Yes) while the unit is waited for after the
// loader, then Cancel again to close.
void CancelInResultWait(CBaseWizard& wizard, const std::string& agent) {
  auto click = [&](QWizard::WizardButton which) { wizard.button(which)->click(); };
  click(QWizard::NextButton);
  click(QWizard::NextButton);
  wizard.BinFilePage().PathEdit()->setText(FromCore(agent));
  click(QWizard::NextButton);
  click(QWizard::NextButton);
  const bool sent =
      QTest::qWaitFor([&] { return wizard.DownloadPage().BootBar()->value() == 100; }, 30000);
  Say(sent ? "cancel" : "no loader");
  click(QWizard::CancelButton);
  Say(wizard.isVisible() ? "open" : "closed");
  click(QWizard::CancelButton);
}

// Enter twice reaches step 3; Escape closes.
void Keys(CBaseWizard& wizard) {
  QApplication::setActiveWindow(&wizard);
  if (!QTest::qWaitForWindowActive(&wizard)) Say("not active");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  const QLineEdit* box = wizard.BinFilePage().PathEdit();
  Say((QApplication::focusWidget() == box ? "focus " : "no focus ") + ToCore(box->text()));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
}

// argv: self --child cancel|keys APPDIR AGENT. Boxes are answered Yes/OK and printed.
int RunChild(int argc, char** argv) {
  QApplication application(argc, argv);
  const std::string mode = argv[2];
  const std::string agent = argv[4];
  ProgramHooks hooks;
  hooks.configure = [&](CUpdateApp& app) { app.SetAppDir(argv[3]); };
  hooks.started = [&](CBaseWizard& wizard, GuiContext& context) {
    context.dialogs.SetAutoAnswer([](QtDialogs::Kind, const std::string& text) {
      Say("box: " + text);
      return true;
    });
    QTimer::singleShot(0, &wizard, [&] {
      if (mode == "keys")
        Keys(wizard);
      else
        CancelInResultWait(wizard, agent);
    });
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

  // Pulses move the synchronisation bar by 5, the image bars add the deltas; a
  // step past 100 starts over, and the done value fills the bar.
  void bars() {
    WizardHarness h(m_profile);
    const auto bars = [&] {
      CDownloadPage& page = h.Download();
      return QList<int>{page.SyncBar()->value(), page.BootBar()->value(), page.AgentBar()->value()};
    };
    const auto pulse = [](CUpdateApp& app, int times) {
      for (int i = 0; i < times; ++i) app.StepProgress(PROGRESS_SYNC, 0);
    };
    FromDownloadThread(h, [&](CUpdateApp& app) {
      pulse(app, 3);
      app.StepProgress(PROGRESS_BOOT, 30);
      app.StepProgress(PROGRESS_BOOT, 12);
      app.StepProgress(PROGRESS_AGENT, 60);
    });
    QCOMPARE(bars(), QList<int>({15, 42, 60}));
    FromDownloadThread(h, [&](CUpdateApp& app) {
      pulse(app, 17);
      app.StepProgress(PROGRESS_AGENT, 40);
    });
    QCOMPARE(bars(), QList<int>({100, 42, 100}));
    FromDownloadThread(h, [&](CUpdateApp& app) {
      pulse(app, 1);
      app.StepProgress(PROGRESS_AGENT, 1);
      app.StepProgress(PROGRESS_BOOT, PROGRESS_DONE);
    });
    QCOMPARE(bars(), QList<int>({0, 100, 0}));
    FromDownloadThread(h, [&](CUpdateApp& app) {
      pulse(app, 1);
      app.StepProgress(PROGRESS_AGENT, 41);
    });
    QCOMPARE(bars(), QList<int>({5, 100, 41}));
  }

  // The boot and agent rows' texts, as the timer's tick shows them.
  void texts() {
    WizardHarness h(m_profile);
    const auto texts = [&] {
      CDownloadPage& page = h.Download();
      page.OnTimer();
      return QStringList{page.BootPercent()->text(), page.BootEstimate()->text(),
                         page.AgentPercent()->text(), page.AgentEstimate()->text()};
    };
    FromDownloadThread(h, [](CUpdateApp& app) {
      app.ShowEstimate(PROGRESS_BOOT, 42, 75);
      app.ShowEstimate(PROGRESS_AGENT, 0, 6000);  // minutes are not cut to two digits
    });
    QCOMPARE(texts(),
             QStringList({"42% Done", "Time left: 01:15", "0% Done", "Time left: 100:00"}));
    FromDownloadThread(h, [](CUpdateApp& app) {
      app.ShowComplete(PROGRESS_BOOT);
      app.ShowComplete(PROGRESS_AGENT);
      app.ShowTook(PROGRESS_AGENT, 37);
    });
    QCOMPARE(texts(), QStringList({"Complete", "Waiting for device to complete...", "Complete",
                                   "Took: 37 secs"}));
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

  // One unit: step 2 refuses (Next and Back) a port that does not open; step 3
  // refuses what cannot be flashed; step 4 shows the choice; step 5 flashes. Then
  // "Again?" calls a unit that never answers: Cancel answered No goes on, Yes
  // stops at once, clears the display and keeps the wizard open. (Which reasons a
  // port gives are the serial and CLI tests'.)
  void session() {
    SimProcess sim(PORTFLASH_SIM, {"--save-agent", "{dir}/agent.out"});
    QVERIFY2(sim.Ready(), sim.Log().c_str());
    const std::string missing = sim.File("missing");
    m_profile.WriteString("Ports", "COM1", missing);
    WizardHarness h(m_profile);
    h.App().SetAppDir((m_samples.Dir() + "/").c_str());
    QVERIFY(h.Show());
    QVERIFY(h.Next());
    QVERIFY(!h.Next());
    QVERIFY(!h.Back());
    QCOMPARE(h.CurrentId(), int(CBaseWizard::kCommPage));
    m_profile.WriteString("Ports", "COM1", sim.Device());
    QVERIFY(h.Next());

    // Which sets are refused is the image-set tests' concern: one stands for them.
    h.Wizard().BinFilePage().PathEdit()->setText(FromCore(m_samples.Dir() + "/missing.bin"));
    QVERIFY(!h.Next());
    h.Wizard().BinFilePage().PathEdit()->setText(FromCore(m_samples.Agent()));
    QVERIFY(h.Next());
    CPowerOffPage& confirm = h.Wizard().PowerOffPage();
    QCOMPARE(
        QStringList(
            {confirm.PortName()->text(), confirm.Speed()->text(), confirm.BootFile()->text()}),
        QStringList({"COM1", "115200", FromCore(m_samples.Loader())}));  // the rest: gui_pages_test

    QVERIFY(h.Next());
    QVERIFY2(h.WaitForText(Text(IDS_UPDATE_OK), 1, 30000), sim.Log().c_str());
    CDownloadPage& page = h.Download();
    QAbstractButton* again = h.Button(QWizard::FinishButton);
    QCOMPARE(again->text(), QStringLiteral("Again?"));
    QTRY_VERIFY(again->isEnabled());  // on the next tick
    QCOMPARE(page.AgentBar()->value(), 100);
    QCOMPARE(page.AgentPercent()->text(), QStringLiteral("Complete"));
    QVERIFY(sim.WaitForReport(1, 5s));
    for (const std::string& line : sim.Report()) QVERIFY2(line.rfind("ok ", 0) == 0, line.c_str());
    QCOMPARE(ReadFile(sim.File("agent.out")), ReadFile(m_samples.Agent()));

    SimProcess silent(PORTFLASH_SIM, {"--silent"});
    QVERIFY2(silent.Ready(), silent.Log().c_str());
    m_profile.WriteString("Ports", "COM1", silent.Device());
    again->click();
    QVERIFY(!again->isEnabled());
    QVERIFY(h.WaitForText(Text(IDS_POWER_OFF), 2));
    QTRY_VERIFY(page.SyncBar()->value() >= 10);
    h.Click(QWizard::CancelButton);  // No
    QVERIFY(h.App().IsDownloadSet());
    const int before = page.SyncBar()->value();
    QTRY_VERIFY(page.SyncBar()->value() != before);  // still calling the unit
    h.AnswerYesNo(true);
    QElapsedTimer stopping;
    stopping.start();
    h.Click(QWizard::CancelButton);
    QVERIFY2(stopping.elapsed() < 5000, QByteArray::number(stopping.elapsed()));
    QVERIFY(!h.App().IsDownloadSet());
    QVERIFY(h.Wizard().isVisible());
    QCOMPARE(page.SyncBar()->value(), 0);
    QCOMPARE(page.BootFile()->text(), QString());
    QTRY_VERIFY(again->isEnabled());
    QCoreApplication::sendPostedEvents();
    QCOMPARE(page.SyncBar()->value(), 0);  // nothing of the stopped thread arrives late

    const std::string noPort =
        Text(IDS_OPEN_FAILED) + "\nThe device " + missing + " does not exist.";
    QCOMPARE(Q(h.Texts()),
             Q({noPort, noPort, Text(IDS_BIN_NOT_FOUND), Text(IDS_POWER_OFF), Text(IDS_UPDATE_OK),
                Text(IDS_POWER_OFF), Text(IDS_CANCEL_QUESTION), Text(IDS_CANCEL_QUESTION)}));
    h.Click(QWizard::CancelButton);
    QVERIFY(!h.Wizard().isVisible());
  }

  // The program itself: closed while the unit is waited for after the loader, it
  // ends well within StopDownload's 10 s and keeps the agent path, which the next
  // run shows in step 3's box, where Enter, Enter has brought the focus.
  void exitInResultWaitThenNextRun() {
    SimProcess sim(PORTFLASH_SIM, {"--idle-ms", "60000"});  // never answers an image in time
    QVERIFY2(sim.Ready(), sim.Log().c_str());
    m_profile.WriteString("Ports", "COM1", sim.Device());
    m_profile.RemoveEntry("Last Bin File", "Filename");

    ChildProcess first;
    QVERIFY(first.Start(ChildOptions("cancel")));
    QVERIFY2(first.WaitForOutput("cancel\n", 30s), (first.Stdout() + first.Stderr()).c_str());
    QCOMPARE(first.Wait(15s), 0);
    QVERIFY(first.LastWaitTime() < 10s);
    QCOMPARE(Q(first.Stdout()), Q("box: " + Text(IDS_POWER_OFF) + "\ncancel\nbox: " +
                                  Text(IDS_CANCEL_QUESTION) + "\nopen\nexit 0\n"));

    ChildProcess next;
    QVERIFY(next.Start(ChildOptions("keys")));
    QCOMPARE(next.Wait(15s), 0);
    QCOMPARE(Q(next.Stdout()), Q("focus " + m_samples.Agent() + "\nexit 0\n"));
  }

 private:
  // The engine's calls come from the download thread; the page has them once
  // the GUI thread has run what they posted.
  static void FromDownloadThread(WizardHarness& h, const std::function<void(CUpdateApp&)>& calls) {
    std::thread([&] { calls(h.App()); }).join();
    QCoreApplication::sendPostedEvents(&h.Download(), QEvent::MetaCall);
  }

  ChildProcess::Options ChildOptions(const std::string& mode) const {
    ChildProcess::Options options;
    options.argv = {QCoreApplication::applicationFilePath().toStdString(), "--child", mode,
                    (m_samples.Dir() + "/"), m_samples.Agent()};
    return options;
  }

  const SampleSet& m_samples = SampleSet::Get();
  QSettingsProfile m_profile;
};

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--child") return RunChild(argc, argv);
  return RunGuiTests(argc, argv, [](int count, char** args) {
    WizardTest test;
    return QTest::qExec(&test, count, args);
  });
}

#include "gui_wizard_test.moc"
