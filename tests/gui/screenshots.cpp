// Renders every page of the wizard (and two message boxes) to PNG files for the
// documentation. The download page is shown mid-way through a download.
//
//   portflash-screenshots OUTDIR [SUFFIX [FONT_POINTS]]
//   portflash-screenshots --icons DIR     the application icon as PNG files,
//                                         DIR/<size>x<size>/apps/portflash.png
//
// Run offscreen (QT_QPA_PLATFORM=offscreen); QT_SCALE_FACTOR=2 gives the 200 % set.
#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/result_code.h"
#include "gui/artwork.h"
#include "gui/text.h"
#include "res/string_table.h"
#include "support/fakes.h"
#include "wizard_harness.h"

using namespace portflash;
using namespace portflash::testing;

namespace {

bool Save(QWidget& widget, const QString& dir, const QString& name, const QString& suffix) {
  QCoreApplication::processEvents();
  const QString path = QDir(dir).filePath(name + suffix + QStringLiteral(".png"));
  if (!widget.grab().save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

// A pseudo-terminal for COM1, so that step 2's test open succeeds.
struct Pty {
  int master = -1;
  int slave = -1;
  std::string device;
  Pty() {
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) == 0) device = name;
  }
  ~Pty() {
    if (slave >= 0) close(slave);
    if (master >= 0) close(master);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: portflash-screenshots OUTDIR [SUFFIX [FONT_POINTS]]\n");
    return 2;
  }
  QApplication application(argc, argv);
  if (std::string(argv[1]) == "--icons") {
    if (argc < 3) return 2;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
      const QString dir =
          QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
      if (!QDir().mkpath(dir) || !PaintIcon(size).save(dir + QStringLiteral("/portflash.png"))) {
        std::fprintf(stderr, "cannot write the icons to %s\n", qPrintable(dir));
        return 1;
      }
    }
    return 0;
  }
  QApplication::setWindowIcon(ApplicationIcon());
  const QString out = QString::fromLocal8Bit(argv[1]);
  const QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
  // A third argument gives the desktop's font a point size, as a user with larger fonts has.
  if (argc > 3) {
    QFont font = QApplication::font();
    font.setPointSize(std::atoi(argv[3]));
    QApplication::setFont(font);
  }
  QDir().mkpath(out);

  // Files where an installation and a technician would keep them, under one
  // directory of fixed name so that the pictures show tidy paths.
  const QString base = QDir::temp().filePath(QStringLiteral("portflash"));
  QDir(base).removeRecursively();
  const std::string root = ToCore(base);
  const std::string programDir = root + "/lib/portflash";
  const std::string command = "python3 '" PORTFLASH_SOURCE_DIR "/scripts/make-sample-set' '" +
                              root + "/sample' --program-dir '" + programDir +
                              "' --agent-body 24K --loader-body 12K >/dev/null";
  const std::string images = root + "/home/technician/images";
  const std::string agent = images + "/kvr-agent-7.4.2.bin";
  Pty pty;
  if (std::system(command.c_str()) != 0 || !QDir().mkpath(FromCore(images)) ||
      !QFile::copy(FromCore(root + "/sample/images/kvr-agent.bin"), FromCore(agent)) ||
      pty.device.empty()) {
    std::fprintf(stderr, "cannot set up the sample files or the pseudo-terminal\n");
    return 1;
  }
  MapProfile profile;
  profile.WriteString("LDR Filename", "kvr", "loaders/kvr.ldr");
  profile.WriteString("Install Version", "Version", "Portflash 3.20 for Corvane and Nimbrel");
  profile.WriteString("Ports", "COM1", pty.device);
  profile.WriteString("Last Bin File", "Filename", agent);

  WizardHarness h(profile);
  h.App().SetAppDir((programDir + "/").c_str());
  h.App().LoadLastAgentPath();
  h.App().SetStopWait(std::chrono::milliseconds(2000));
  bool ok = h.Show();
  CBaseWizard& wizard = h.Wizard();
  ok = ok && Save(wizard, out, QStringLiteral("step1-welcome"), suffix);
  ok = ok && h.Next() && Save(wizard, out, QStringLiteral("step2-com-port"), suffix);
  ok = ok && h.Next() && Save(wizard, out, QStringLiteral("step3-bin-file"), suffix);
  ok = ok && h.Next() && Save(wizard, out, QStringLiteral("step4-confirm"), suffix);
  if (!ok) {
    for (const std::string& text : h.Texts()) std::fprintf(stderr, "box: %s\n", text.c_str());
    return 1;
  }

  // Step 5: the download starts and calls a unit that never answers; the
  // display is set as it looks half-way through the agent.
  h.Next();
  h.WaitForText(LoadStringResource(IDS_POWER_OFF), 1, 5000);
  CDownloadPage& page = h.Download();
  QCoreApplication::sendPostedEvents(&page, QEvent::MetaCall);
  page.SyncBar()->setValue(45);
  page.StepBoot(100);
  page.StepBoot(PROGRESS_DONE);
  page.ShowBootTook(4);
  page.StepAgent(42);
  page.ShowAgentEstimate(42, 83);
  page.OnTimer();
  ok = Save(wizard, out, QStringLiteral("step5-download"), suffix);

  // Finished: "Again?" is offered.
  h.App().StopDownload();
  QCoreApplication::sendPostedEvents(&page, QEvent::MetaCall);
  page.SyncBar()->setValue(45);
  page.StepAgent(58);
  page.StepAgent(PROGRESS_DONE);
  page.ShowAgentTook(12);
  page.ShowDelayWarning(2.8);
  page.OnTimer();
  ok = ok && Save(wizard, out, QStringLiteral("step5-done"), suffix);

  auto box =
      QtDialogs::MakeBox(QtDialogs::Kind::Message, LoadStringResource(IDS_UPDATE_OK), &wizard);
  box->show();
  ok = ok && Save(*box, out, QStringLiteral("box-success"), suffix);
  box =
      QtDialogs::MakeBox(QtDialogs::Kind::YesNo, LoadStringResource(IDS_CANCEL_QUESTION), &wizard);
  box->show();
  ok = ok && Save(*box, out, QStringLiteral("box-cancel"), suffix);
  box.reset();
  h.Close();
  QDir(base).removeRecursively();
  return ok ? 0 : 1;
}
