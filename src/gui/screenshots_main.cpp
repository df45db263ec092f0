// Renders every page of the wizard (and two message boxes) to PNG files for the
// documentation, by running the program's own flow on a staged installation. The
// download page is shown mid-way through a download.
//
//   portflash-screenshots OUTDIR [SUFFIX [FONT_POINTS]]
//   portflash-screenshots --icons DIR     the application icon as PNG files,
//                                         DIR/<size>x<size>/apps/portflash.png
//
// Run offscreen (QT_QPA_PLATFORM=offscreen); QT_SCALE_FACTOR=2 gives the 200 % set.
#include <pty.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>

#include "app/update_app.h"
#include "engine/result_code.h"
#include "gui/artwork.h"
#include "gui/base_wizard.h"
#include "gui/download_page.h"
#include "gui/gui_context.h"
#include "gui/program.h"
#include "gui/qt_dialogs.h"
#include "gui/text.h"
#include "qt/qsettings_profile.h"
#include "res/string_table.h"

using namespace portflash;

namespace {

struct Output {
  QString dir;
  QString suffix;
  bool ok = true;

  void Save(QWidget& widget, const char* name) {
    QCoreApplication::processEvents();
    const QString path = QDir(dir).filePath(QString::fromLatin1(name) + suffix + ".png");
    const bool saved = widget.grab().save(path);
    std::fprintf(saved ? stdout : stderr, saved ? "%s\n" : "cannot write %s\n", qPrintable(path));
    ok = ok && saved;
  }
};

// A pseudo-terminal for COM1, so that step 2's test open succeeds; nothing answers on it.
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

int WriteIcons(const QString& root) {
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
    if (!QDir().mkpath(dir) || !PaintIcon(size).save(dir + QStringLiteral("/portflash.png"))) {
      std::fprintf(stderr, "cannot write the icons to %s\n", qPrintable(dir));
      return 1;
    }
  }
  return 0;
}

bool WaitForBox(const QtDialogs& dialogs, const std::string& text) {
  QDeadlineTimer deadline(5000);
  while (!deadline.hasExpired()) {
    for (const std::string& asked : dialogs.Texts()) {
      if (asked == text) return true;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return false;
}

// Walks the five steps, saving each, then stages the download page's display.
void Shoot(CBaseWizard& wizard, GuiContext& context, Output& out) {
  auto next = [&] { wizard.button(QWizard::NextButton)->click(); };
  out.Save(wizard, "step1-welcome");
  next();
  out.Save(wizard, "step2-com-port");
  next();
  out.Save(wizard, "step3-bin-file");
  next();
  out.Save(wizard, "step4-confirm");
  if (wizard.currentId() != CBaseWizard::kPowerOffPage) {
    for (const std::string& text : context.dialogs.Texts()) {
      std::fprintf(stderr, "box: %s\n", text.c_str());
    }
    out.ok = false;
    return;
  }

  // Step 5: the download calls a unit that never answers; the display is set
  // as it looks half-way through the agent.
  next();
  out.ok = WaitForBox(context.dialogs, LoadStringResource(IDS_POWER_OFF)) && out.ok;
  CDownloadPage& page = wizard.DownloadPage();
  QCoreApplication::sendPostedEvents(&page, QEvent::MetaCall);
  page.SyncBar()->setValue(45);
  page.StepBoot(100);
  page.StepBoot(PROGRESS_DONE);
  page.ShowBootTook(4);
  page.StepAgent(42);
  page.ShowAgentEstimate(42, 83);
  page.OnTimer();
  out.Save(wizard, "step5-download");

  // Finished: "Again?" is offered.
  context.app.StopDownload();
  QCoreApplication::sendPostedEvents(&page, QEvent::MetaCall);
  page.SyncBar()->setValue(45);
  page.StepAgent(58);
  page.StepAgent(PROGRESS_DONE);
  page.ShowAgentTook(12);
  page.ShowDelayWarning(2.8);
  page.OnTimer();
  out.Save(wizard, "step5-done");

  for (auto [kind, id, name] :
       {std::tuple{QtDialogs::Kind::Message, IDS_UPDATE_OK, "box-success"},
        std::tuple{QtDialogs::Kind::YesNo, IDS_CANCEL_QUESTION, "box-cancel"}}) {
    auto box = QtDialogs::MakeBox(kind, LoadStringResource(id), &wizard);
    box->show();
    out.Save(*box, name);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || (std::string(argv[1]) == "--icons" && argc < 3)) {
    std::fprintf(stderr,
                 "usage: portflash-screenshots OUTDIR [SUFFIX [FONT_POINTS]]\n"
                 "       portflash-screenshots --icons DIR\n");
    return 2;
  }
  // Files where an installation and a technician would keep them, under one
  // directory of fixed name so that the pictures show tidy paths; the profile
  // there too, so that the user's own is neither read nor written.
  const QString base = QDir::temp().filePath(QStringLiteral("portflash"));
  QDir(base).removeRecursively();
  const std::string root = ToCore(base);
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(root + "/config"));
  qputenv("XDG_CONFIG_DIRS", QByteArray::fromStdString(root + "/config"));
  QApplication application(argc, argv);
  if (std::string(argv[1]) == "--icons") return WriteIcons(QString::fromLocal8Bit(argv[2]));

  Output out{QString::fromLocal8Bit(argv[1]),
             argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString()};
  // A third argument gives the desktop's font a point size, as a user with larger fonts has.
  if (argc > 3) {
    QFont font = QApplication::font();
    font.setPointSize(std::atoi(argv[3]));
    QApplication::setFont(font);
  }
  QDir().mkpath(out.dir);

  // A long file name and hyphenated product names: the pages shorten the one and
  // wrap the other only between names.
  const std::string programDir = root + "/lib/portflash";
  const std::string command =
      "python3 '" PORTFLASH_SOURCE_DIR "/scripts/make-sample-set' '" + root +
      "/sample' --program-dir '" + programDir +
      "' --agent-body 24K --loader-body 12K --kvr-products NIMBREL7010 NIMBREL7020"
      " NIMBREL7030-LONGNAME NIMBREL7040-RUGGED-XT NIMBREL7050-OUTDOOR CORVANE-2200-EDGE"
      " CORVANE-2400-LONGNAME >/dev/null";
  const std::string images = root + "/home/technician/images";
  constexpr char kLongName[] =
      "kvr-agent-7.4.2-nimbrel-7010-7020-7030-rugged-outdoor-field-recovery-image-signed-"
      "release-candidate-build-2024-05-17.bin";
  static_assert(sizeof kLongName - 1 == 120);
  const std::string agent = images + "/" + kLongName;
  Pty pty;
  if (std::system(command.c_str()) != 0 || !QDir().mkpath(FromCore(images)) ||
      !QFile::copy(FromCore(root + "/sample/images/kvr-agent.bin"), FromCore(agent)) ||
      pty.device.empty()) {
    std::fprintf(stderr, "cannot set up the sample files or the pseudo-terminal\n");
    return 1;
  }
  QSettingsProfile profile;
  profile.WriteString("LDR Filename", "kvr", "loaders/kvr.ldr");
  profile.WriteString("Install Version", "Version", "Portflash 3.20 for Corvane and Nimbrel");
  profile.WriteString("Ports", "COM1", pty.device);
  profile.WriteString("Last Bin File", "Filename", agent);

  ProgramHooks hooks;
  hooks.configure = [&](CUpdateApp& app) {
    app.SetAppDir((programDir + "/").c_str());
    app.SetStopWait(std::chrono::milliseconds(2000));
  };
  hooks.started = [&](CBaseWizard& wizard, GuiContext& context) {
    // Boxes are answered (OK, No) rather than shown.
    context.dialogs.SetAutoAnswer(
        [](QtDialogs::Kind kind, const std::string&) { return kind == QtDialogs::Kind::Message; });
    QTimer::singleShot(0, &wizard, [&] {
      Shoot(wizard, context, out);
      context.app.StopDownload();  // so that Cancel closes without a question
      wizard.button(QWizard::CancelButton)->click();
    });
  };
  RunPortflash(hooks);
  QDir(base).removeRecursively();
  return out.ok ? 0 : 1;
}
