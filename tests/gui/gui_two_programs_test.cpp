// The COM page against a port that another program's download holds: leaving the
// page is refused with message 121 and the reason, and the other download goes on
// undisturbed to its end.
#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <chrono>
#include <memory>

#include "engine/serial_link.h"
#include "res/string_table.h"
#include "support/child_process.h"
#include "support/fakes.h"
#include "support/sim_process.h"
#include "wizard_harness.h"

using namespace portflash;
using namespace portflash::testing;
using namespace std::chrono_literals;

class TwoProgramsTest : public QObject {
  Q_OBJECT

 private slots:
  void commPageRefusesAPortThatADownloadHolds() {
    SampleSet samples;
    QVERIFY(samples.Ok());
    SimProcess sim(PORTFLASH_SIM, {"--save-agent", "{dir}/agent.out"});
    QVERIFY2(sim.Ready(), sim.Log().c_str());

    // The holder: portflash-cli at its power-off request, the port already open.
    ChildProcess cli;
    ChildProcess::Options options;
    options.argv = {PORTFLASH_CLI, "--port",         sim.Device(),
                    "--loader",    samples.Loader(), samples.Agent()};
    options.stdinText = "";
    options.keepStdinOpen = true;
    QVERIFY(cli.Start(options));
    QVERIFY2(cli.WaitForOutput("Press Enter", 20s), (cli.Stdout() + cli.Stderr()).c_str());

    MapProfile profile;
    profile.WriteString("Ports", "COM1", sim.Device());
    WizardHarness h(profile);
    QVERIFY(h.Show());
    QVERIFY(h.Next());
    QCOMPARE(h.CurrentId(), int(CBaseWizard::kCommPage));
    QCOMPARE(h.Wizard().CommPage().PortList()->currentText(), QStringLiteral("COM1"));
    QVERIFY(!h.Next());
    QCOMPARE(h.CurrentId(), int(CBaseWizard::kCommPage));
    const std::string expected =
        std::string(LoadStringResource(IDS_OPEN_FAILED)) + "\n" + sim.Device() +
        " is in use by another program (portflash-cli, process " + std::to_string(cli.Pid()) + ").";
    QCOMPARE(h.Texts(), std::vector<std::string>{expected});

    // The holder goes on (Enter at its request) and its download succeeds whole.
    cli.CloseStdin();
    QCOMPARE(cli.Wait(60s), 0);
    QVERIFY2(cli.Stdout().find("Update completed successfully") != std::string::npos,
             cli.Stdout().c_str());
    QVERIFY(sim.WaitForReport(1, 5s));
    QCOMPARE(sim.Report().size(), std::size_t{1});
    QVERIFY2(sim.Report()[0].rfind("ok ", 0) == 0, sim.Log().c_str());
    QVERIFY(ReadFile(sim.File("agent.out")) == ReadFile(samples.Agent()));

    // Now free, the port lets the wizard on.
    QVERIFY(h.Next());
    QCOMPARE(h.CurrentId(), int(CBaseWizard::kBinFilePage));
    QCOMPARE(h.Texts().size(), std::size_t{1});
    h.Close();
  }
};

int main(int argc, char** argv) {
  return RunGuiTests(argc, argv, [](int count, char** args) {
    TwoProgramsTest test;
    return QTest::qExec(&test, count, args);
  });
}

#include "gui_two_programs_test.moc"
