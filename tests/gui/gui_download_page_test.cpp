// The download page: progress arithmetic and texts as the engine drives them
// from its own thread, the buttons, Cancel, and the thread-safe adapters.
#include <QApplication>
#include <QTest>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "engine/result_code.h"
#include "gui/text.h"
#include "res/string_table.h"
#include "support/fakes.h"
#include "wizard_harness.h"

using namespace portflash;
using namespace portflash::testing;

namespace {

// The engine calls the progress operations on the download thread.
void OnOtherThread(const std::function<void()>& calls) {
  std::thread thread(calls);
  thread.join();
}

}  // namespace

class DownloadPageTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    m_profile = std::make_unique<MapProfile>();
    m_world = std::make_unique<FakeWorld>();
    m_h = std::make_unique<WizardHarness>(*m_profile);
  }

  void cleanup() {
    m_h.reset();
    m_world.reset();
    m_profile.reset();
  }

  // Pulses move the synchronisation bar only, by 5; a pulse past 100 starts over.
  void syncPulsesStartOver() {
    CUpdateApp& app = m_h->App();
    CDownloadPage& page = m_h->Download();
    OnOtherThread([&] {
      for (int i = 0; i < 3; ++i) app.StepProgress(PROGRESS_SYNC, 0);
    });
    QTRY_COMPARE(page.SyncBar()->value(), 15);
    QCOMPARE(page.BootBar()->value(), 0);
    QCOMPARE(page.AgentBar()->value(), 0);
    OnOtherThread([&] {
      for (int i = 0; i < 17; ++i) app.StepProgress(PROGRESS_SYNC, 0);
    });
    QTRY_COMPARE(page.SyncBar()->value(), 100);
    OnOtherThread([&] { app.StepProgress(PROGRESS_SYNC, 0); });
    QTRY_COMPARE(page.SyncBar()->value(), 0);
    OnOtherThread([&] { app.StepProgress(PROGRESS_SYNC, 0); });
    QTRY_COMPARE(page.SyncBar()->value(), 5);
  }

  // The image bars show the sum of the deltas; a step past the end starts over.
  void imageBarsAddDeltas() {
    CUpdateApp& app = m_h->App();
    CDownloadPage& page = m_h->Download();
    OnOtherThread([&] {
      app.StepProgress(PROGRESS_BOOT, 30);
      app.StepProgress(PROGRESS_BOOT, 12);
      app.StepProgress(PROGRESS_AGENT, 60);
      app.StepProgress(PROGRESS_AGENT, 0);
    });
    QTRY_COMPARE(page.AgentBar()->value(), 60);
    QCOMPARE(page.BootBar()->value(), 42);
    QCOMPARE(page.SyncBar()->value(), 0);
    OnOtherThread([&] { app.StepProgress(PROGRESS_AGENT, 41); });
    QTRY_COMPARE(page.AgentBar()->value(), 0);
    OnOtherThread([&] { app.StepProgress(PROGRESS_AGENT, 40); });
    QTRY_COMPARE(page.AgentBar()->value(), 40);
    OnOtherThread([&] { app.StepProgress(PROGRESS_AGENT, 60); });
    QTRY_COMPARE(page.AgentBar()->value(), 100);
  }

  // Stepping by the done value and ShowComplete are the same thing; any
  // channel but the boot loader's is the agent row.
  void completeRows() {
    CUpdateApp& app = m_h->App();
    CDownloadPage& page = m_h->Download();
    OnOtherThread([&] {
      app.StepProgress(PROGRESS_BOOT, 20);
      app.StepProgress(PROGRESS_BOOT, PROGRESS_DONE);
      app.ShowComplete(55);
    });
    QTRY_COMPARE(page.AgentBar()->value(), 100);
    QCOMPARE(page.BootBar()->value(), 100);
    page.OnTimer();
    QCOMPARE(page.BootPercent()->text(), QStringLiteral("Complete"));
    QCOMPARE(page.BootEstimate()->text(), QStringLiteral("Waiting for device to complete..."));
    QCOMPARE(page.AgentPercent()->text(), QStringLiteral("Complete"));
    QCOMPARE(page.AgentEstimate()->text(), QStringLiteral("Waiting for device to complete..."));
  }

  void estimates_data() {
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("percent");
    QTest::addColumn<unsigned>("secondsLeft");
    QTest::addColumn<bool>("bootRow");
    QTest::addColumn<QString>("percentText");
    QTest::addColumn<QString>("estimateText");
    QTest::newRow("agent, nothing left")
        << PROGRESS_AGENT << 5 << 0u << false << QStringLiteral("5% Done")
        << QStringLiteral("Time left: 00:00");
    QTest::newRow("boot") << PROGRESS_BOOT << 42 << 75u << true << QStringLiteral("42% Done")
                          << QStringLiteral("Time left: 01:15");
    QTest::newRow("just under an hour")
        << PROGRESS_AGENT << 1 << 3599u << false << QStringLiteral("1% Done")
        << QStringLiteral("Time left: 59:59");
    QTest::newRow("minutes are not cut to two digits")
        << PROGRESS_AGENT << 0 << 6000u << false << QStringLiteral("0% Done")
        << QStringLiteral("Time left: 100:00");
    QTest::newRow("another channel is the agent")
        << PROGRESS_SYNC << 64 << 61u << false << QStringLiteral("64% Done")
        << QStringLiteral("Time left: 01:01");
  }

  // Texts reach the screen on the timer's tick, not before.
  void estimates() {
    QFETCH(int, channel);
    QFETCH(int, percent);
    QFETCH(unsigned, secondsLeft);
    QFETCH(bool, bootRow);
    QFETCH(QString, percentText);
    QFETCH(QString, estimateText);
    CDownloadPage& page = m_h->Download();
    OnOtherThread([&] { m_h->App().ShowEstimate(channel, percent, secondsLeft); });
    QCoreApplication::sendPostedEvents(&page, QEvent::MetaCall);
    QLabel* shownPercent = bootRow ? page.BootPercent() : page.AgentPercent();
    QLabel* shownEstimate = bootRow ? page.BootEstimate() : page.AgentEstimate();
    QLabel* otherPercent = bootRow ? page.AgentPercent() : page.BootPercent();
    QCOMPARE(shownPercent->text(), QString());
    page.OnTimer();
    QCOMPARE(shownPercent->text(), percentText);
    QCOMPARE(shownEstimate->text(), estimateText);
    QCOMPARE(otherPercent->text(), QString());
  }

  void tookReplacesWaiting() {
    CUpdateApp& app = m_h->App();
    CDownloadPage& page = m_h->Download();
    OnOtherThread([&] {
      app.ShowComplete(PROGRESS_AGENT);
      app.ShowTook(PROGRESS_AGENT, 37);
      app.ShowComplete(PROGRESS_BOOT);
      app.ShowTook(PROGRESS_BOOT, 1);
    });
    QCoreApplication::sendPostedEvents(&page, QEvent::MetaCall);
    page.OnTimer();
    QCOMPARE(page.AgentEstimate()->text(), QStringLiteral("Took: 37 secs"));
    QCOMPARE(page.AgentPercent()->text(), QStringLiteral("Complete"));
    QCOMPARE(page.BootEstimate()->text(), QStringLiteral("Took: 1 secs"));
  }

  // The warning stays through a reset, until the next image clears it.
  void delayWarning() {
    CUpdateApp& app = m_h->App();
    CDownloadPage& page = m_h->Download();
    const QString warning = QStringLiteral(
        "Detecting severe network delays. To improve serial download performance, copy agent "
        "file to a local drive");
    OnOtherThread([&] { app.ShowDelayWarning(2.6); });
    QCoreApplication::sendPostedEvents(&page, QEvent::MetaCall);
    page.OnTimer();
    QCOMPARE(page.DelayWarning()->text(), warning);
    page.ResetDisplay();
    QCOMPARE(page.DelayWarning()->text(), warning);
    OnOtherThread([&] { app.ShowDelayWarning(0.0); });
    QCoreApplication::sendPostedEvents(&page, QEvent::MetaCall);
    page.OnTimer();
    QCOMPARE(page.DelayWarning()->text(), QString());
  }

  void resetClearsBarsAndTexts() {
    CUpdateApp& app = m_h->App();
    CDownloadPage& page = m_h->Download();
    OnOtherThread([&] {
      app.StepProgress(PROGRESS_SYNC, 0);
      app.StepProgress(PROGRESS_BOOT, 70);
      app.ShowEstimate(PROGRESS_BOOT, 70, 9);
      app.StepProgress(PROGRESS_AGENT, 10);
      app.ShowEstimate(PROGRESS_AGENT, 10, 99);
    });
    QCoreApplication::sendPostedEvents(&page, QEvent::MetaCall);
    page.OnTimer();
    QCOMPARE(page.BootPercent()->text(), QStringLiteral("70% Done"));
    page.ResetDisplay();
    for (QProgressBar* bar : {page.SyncBar(), page.BootBar(), page.AgentBar()}) {
      QCOMPARE(bar->value(), 0);
      QCOMPARE(bar->maximum(), 100);
    }
    for (QLabel* label : {page.BootPercent(), page.BootEstimate(), page.AgentPercent(),
                          page.AgentEstimate(), page.BootFile(), page.AgentFile()}) {
      QCOMPARE(label->text(), QString());
    }
  }

  // Progress posted by the thread for a page that is gone by the time it would
  // arrive goes nowhere; so do calls after the page has gone.
  void progressOutlivesThePage() {
    CUpdateApp& app = m_h->App();
    OnOtherThread([&] {
      app.StepProgress(PROGRESS_BOOT, 10);
      app.ShowEstimate(PROGRESS_AGENT, 10, 10);
    });
    m_h->DestroyWizard();
    QCoreApplication::processEvents();
    OnOtherThread([&] {
      app.StepProgress(PROGRESS_SYNC, 0);
      app.ShowComplete(PROGRESS_AGENT);
      app.ShowTook(PROGRESS_BOOT, 3);
      app.ShowDelayWarning(3.0);
    });
    QCoreApplication::processEvents();
  }

  // Boxes asked for on another thread are answered on the GUI thread while the
  // asking thread waits.
  void dialogsFromTheDownloadThread() {
    QtDialogs& dialogs = m_h->Dialogs();
    std::atomic<bool> onGuiThread{true};
    dialogs.SetAutoAnswer([&](QtDialogs::Kind kind, const std::string&) {
      if (QThread::currentThread() != QCoreApplication::instance()->thread()) onGuiThread = false;
      return kind == QtDialogs::Kind::YesNo;
    });
    std::atomic<int> answers{-1};
    std::atomic<bool> done{false};
    std::thread asker([&] {
      dialogs.ShowMessage("first");
      answers = dialogs.AskYesNo("second") ? 1 : 0;
      done = true;
    });
    QTRY_VERIFY(done.load());
    asker.join();
    QCOMPARE(answers.load(), 1);
    QVERIFY(onGuiThread.load());
    QCOMPARE(dialogs.Texts(), std::vector<std::string>({"first", "second"}));
  }

  // A thread waiting for a box is let go when the GUI shuts down, and later
  // requests are answered at once: OK, and No.
  void dialogsReleasedAtShutdown() {
    QtDialogs dialogs;  // no auto-answer: a box would really be shown
    std::atomic<int> answer{-1};
    std::thread asker([&] { answer = dialogs.AskYesNo("waiting") ? 1 : 0; });
    QDeadlineTimer deadline(5000);
    while (dialogs.Records().empty() && !deadline.hasExpired()) QThread::msleep(1);
    QCOMPARE(dialogs.Records().size(), std::size_t(1));
    dialogs.BeginShutdown();
    asker.join();
    QCOMPARE(answer.load(), 0);
    // The request posted to the GUI thread shows nothing now.
    QCoreApplication::processEvents();
    std::thread late([&] {
      dialogs.ShowMessage("late");
      answer = dialogs.AskYesNo("late question") ? 1 : 0;
    });
    late.join();
    QCOMPARE(answer.load(), 0);
    QCOMPARE(dialogs.Records().size(), std::size_t(3));
  }

  // The port cannot be opened by the download: message 121 from the thread,
  // the download stays set and "Again?" disabled until Cancel clears it; a
  // second Cancel then closes the wizard without a question.
  void failedOpenThenCancel() {
    m_world->serial.failOpen = true;
    CDownloadPage& page = EnterDownloadPage();
    QTRY_COMPARE(OpenFailures(), 1);
    // The thread has gone; the fake may be read now.
    QTRY_VERIFY(m_h->Context().downloads.AllEnded());
    QCOMPARE(m_h->Count(LoadStringResource(IDS_POWER_OFF)), 0);
    QVERIFY(m_h->App().IsDownloadSet());
    page.OnTimer();
    QAbstractButton* again = m_h->Button(QWizard::FinishButton);
    QVERIFY(again->isVisible());
    QCOMPARE(again->text(), QStringLiteral("Again?"));
    QVERIFY(!again->isEnabled());
    QVERIFY(!m_h->Button(QWizard::BackButton)->isVisible());
    QVERIFY(!m_h->Button(QWizard::NextButton)->isVisible());
    QVERIFY(m_h->Button(QWizard::HelpButton)->isVisible());

    // Activated again with the download still set: message 125, nothing started.
    page.OnSetActive();
    QCOMPARE(m_h->Texts().back(), std::string(LoadStringResource(IDS_DOWNLOADING)));
    QCOMPARE(m_world->serial.calls.size(), std::size_t(1));

    m_h->AnswerYesNo(false);
    m_h->Cancel();
    QVERIFY(m_h->Wizard().isVisible());
    QCOMPARE(m_h->Texts().back(), std::string(LoadStringResource(IDS_CANCEL_QUESTION)));
    QVERIFY(m_h->App().IsDownloadSet());

    m_h->AnswerYesNo(true);
    m_h->Cancel();
    QVERIFY(m_h->Wizard().isVisible());
    QVERIFY(!m_h->App().IsDownloadSet());
    QCOMPARE(m_h->Count(LoadStringResource(IDS_CANCEL_QUESTION)), 2);
    // The next tick (within a second) makes "Again?" usable.
    QTRY_VERIFY_WITH_TIMEOUT(again->isEnabled(), 1500);

    const std::size_t asked = m_h->Texts().size();
    m_h->Cancel();
    QVERIFY(!m_h->Wizard().isVisible());
    QCOMPARE(m_h->Texts().size(), asked);
  }

  // "Again?" starts a further download; with one set it does nothing.
  void againStartsAnotherDownload() {
    m_world->serial.failOpen = true;
    CDownloadPage& page = EnterDownloadPage();
    QTRY_COMPARE(OpenFailures(), 1);
    QTRY_VERIFY(m_h->Context().downloads.AllEnded());
    QVERIFY(!page.OnWizardFinish());  // a download is set: nothing happens
    QCOMPARE(m_world->serial.calls.size(), std::size_t(1));
    m_h->AnswerYesNo(true);
    m_h->Cancel();
    page.OnTimer();
    QVERIFY(m_h->Button(QWizard::FinishButton)->isEnabled());
    m_h->Button(QWizard::FinishButton)->click();
    QVERIFY(m_h->Wizard().isVisible());
    QCOMPARE(m_h->CurrentId(), int(CBaseWizard::kDownloadPage));
    QVERIFY(m_h->App().IsDownloadSet());
    QVERIFY(!m_h->Button(QWizard::FinishButton)->isEnabled());
    QTRY_COMPARE(OpenFailures(), 2);
    QTRY_VERIFY(m_h->Context().downloads.AllEnded());
    QCOMPARE(m_world->serial.calls.size(), std::size_t(2));
  }

 private:
  // Straight to step 5, with a port and an agent set as steps 2 and 3 would.
  CDownloadPage& EnterDownloadPage() {
    m_h->App().SetPortName("COM1");
    m_h->App().SetSpeed("115200");
    m_h->Dialogs().ClearRecords();
    [&] { QVERIFY(m_h->Show()); }();
    m_h->Wizard().setCurrentId(CBaseWizard::kDownloadPage);
    return m_h->Download();
  }

  // Message 121 (with its reason) as asked for by the download thread.
  int OpenFailures() const {
    int count = 0;
    for (const std::string& text : m_h->Texts()) {
      count += text.rfind(LoadStringResource(IDS_OPEN_FAILED), 0) == 0 ? 1 : 0;
    }
    return count;
  }

  std::unique_ptr<MapProfile> m_profile;
  std::unique_ptr<FakeWorld> m_world;
  std::unique_ptr<WizardHarness> m_h;
};

int main(int argc, char** argv) {
  return RunGuiTests(argc, argv, [](int count, char** args) {
    DownloadPageTest test;
    return QTest::qExec(&test, count, args);
  });
}

#include "gui_download_page_test.moc"
