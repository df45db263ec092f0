// The wizard frame and the four setup pages, on the fake serial platform.
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <memory>

#include "engine/serial_link.h"
#include "gui/artwork.h"
#include "gui/help.h"
#include "gui/text.h"
#include "res/string_table.h"
#include "support/fakes.h"
#include "wizard_harness.h"

using namespace portflash;
using namespace portflash::testing;

namespace {

// Records the URLs that the desktop would have opened.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls << url; }
};

std::string Text121(const std::string& detail) {
  return std::string(LoadStringResource(IDS_OPEN_FAILED)) + "\n" + detail;
}

}  // namespace

class PagesTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    m_samples = std::make_unique<SampleSet>();
    QVERIFY(m_samples->Ok());
  }

  void init() {
    m_profile = std::make_unique<MapProfile>();
    m_world = std::make_unique<FakeWorld>();
    m_h = std::make_unique<WizardHarness>(*m_profile);
    m_samples->WriteLoaderEntries(*m_profile);
    m_h->App().SetAppDir(m_samples->AppDir().c_str());
  }

  void cleanup() {
    m_h.reset();
    m_world.reset();
    m_profile.reset();
  }

  void makeFont_data() {
    QTest::addColumn<QByteArray>("face");
    QTest::addColumn<QByteArray>("height");
    QTest::addColumn<int>("weight");
    QTest::addColumn<int>("flags");  // underline 1, italic 2, strike-out 4
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<int>("expectedWeight");
    const int normal = QFont().weight();
    QTest::newRow("title font") << QByteArray("Arial") << QByteArray("22") << 800 << 0
                                << QStringLiteral("Arial") << 22 << 800;
    QTest::newRow("flags") << QByteArray("Arial") << QByteArray("14") << 400 << 7
                           << QStringLiteral("Arial") << 14 << 400;
    QTest::newRow("height as atoi reads it") << QByteArray("Arial") << QByteArray("18px") << 700
                                             << 0 << QStringLiteral("Arial") << 18 << 700;
    QTest::newRow("no height: default size") << QByteArray("Arial") << QByteArray("abc") << 0 << 0
                                             << QStringLiteral("Arial") << -1 << normal;
    QTest::newRow("face cut at 31 characters")
        << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghij") << QByteArray("10") << 400 << 0
        << QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcde") << 10 << 400;
  }

  void makeFont() {
    QFETCH(QByteArray, face);
    QFETCH(QByteArray, height);
    QFETCH(int, weight);
    QFETCH(int, flags);
    QFETCH(QString, family);
    QFETCH(int, pixelSize);
    QFETCH(int, expectedWeight);
    const QFont font = CBaseWizardPage::MakeFont(face.constData(), height.constData(), weight,
                                                 flags & 1, (flags >> 1) & 1, (flags >> 2) & 1);
    QCOMPARE(font.family(), family);
    QCOMPARE(font.pixelSize(), pixelSize);
    QCOMPARE(font.weight(), expectedWeight);
    QCOMPARE(font.underline(), (flags & 1) != 0);
    QCOMPARE(font.italic(), (flags & 2) != 0);
    QCOMPARE(font.strikeOut(), (flags & 4) != 0);
  }

  // Every page: its caption in the window title, its title in bold Arial 22 from
  // the string table, and the picture down the left.
  void everyPageHasTitlePictureAndCaption() {
    m_h->App().SetPortName("COM1");
    QCOMPARE(m_h->Wizard().windowTitle(), QStringLiteral("Wizard"));
    QVERIFY(m_h->Show());
    const int titles[] = {104, 132, 135, 136, 138};
    for (int id = CBaseWizard::kWelcomePage; id <= CBaseWizard::kDownloadPage; ++id) {
      auto* page = qobject_cast<CBaseWizardPage*>(m_h->Wizard().page(id));
      QVERIFY(page != nullptr);
      QCOMPARE(page->Title()->text(), StringResource(titles[id]));
      QCOMPARE(page->Title()->font().family(), QStringLiteral("Arial"));
      QCOMPARE(page->Title()->font().pixelSize(), 22);
      QCOMPARE(page->Title()->font().weight(), 800);
      const auto* picture = page->findChild<QLabel*>(QStringLiteral("picture"));
      QVERIFY(picture != nullptr);
      QCOMPARE(picture->pixmap().deviceIndependentSize().toSize(),
               QSize(kPictureWidth, kPictureHeight));
      QCOMPARE(page->Caption(), QStringLiteral("Tarvex Flashmoor: Step %1").arg(id + 1));
    }
    QCOMPARE(m_h->Wizard().windowTitle(), QStringLiteral("Tarvex Flashmoor: Step 1"));
    QVERIFY(m_h->Next());
    QCOMPARE(m_h->Wizard().windowTitle(), QStringLiteral("Tarvex Flashmoor: Step 2"));
    QVERIFY(m_h->Next());
    QCOMPARE(m_h->Wizard().windowTitle(), QStringLiteral("Tarvex Flashmoor: Step 3"));
  }

  // The pictures are painted, not loaded: make sure something was painted.
  void artwork() {
    const QImage picture = WizardPicture(2.0).toImage();
    QCOMPARE(picture.size(), QSize(2 * kPictureWidth, 2 * kPictureHeight));
    QVERIFY(qAlpha(picture.pixel(picture.width() / 2, picture.height() / 2)) == 255);
    QVERIFY(picture.pixel(10, 10) != picture.pixel(picture.width() / 2, picture.height() / 4));
    const QIcon icon = ApplicationIcon();
    QVERIFY(icon.availableSizes().contains(QSize(32, 32)));
    const QImage small = PaintIcon(32);
    QCOMPARE(qAlpha(small.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(small.pixel(16, 16)), 255);
  }

  void welcomeShowsInstallVersion() {
    QVERIFY(m_h->Show());
    CWelcomePage& page = m_h->Wizard().WelcomePage();
    QCOMPARE(LabelText(&page, "intro"), StringResource(105));
    QCOMPARE(LabelText(&page, "version"), QStringLiteral("Utility Version 3.20 - 09/Dec/2005"));
    QCOMPARE(page.InstallVersion()->text(), QStringLiteral("CANNOT FIND INSTALL VERSION"));

    m_profile->WriteString("Install Version", "Version", "");
    page.OnSetActive();
    QCOMPARE(page.InstallVersion()->text(), QStringLiteral("CANNOT FIND INSTALL VERSION"));

    // Entry names match without regard to case, as the profile's do.
    m_profile->WriteString("Install Version", "VERSION", "Release 4.7");
    page.OnSetActive();
    QCOMPARE(page.InstallVersion()->text(), QStringLiteral("Release 4.7"));
  }

  void commDefaultsAndLists() {
    QVERIFY(m_h->Show());
    QVERIFY(m_h->Next());
    CCommPage& page = m_h->Wizard().CommPage();
    QCOMPARE(page.PortList()->currentText(), QStringLiteral("COM1"));
    QCOMPARE(page.SpeedList()->currentText(), QStringLiteral("115200"));
    QCOMPARE(page.CableList()->currentText(), QStringLiteral("TX and RX Only"));
    QVERIFY(page.PortList()->count() >= 4);
    for (int i = 0; i < 4; ++i) {
      QCOMPARE(page.PortList()->itemText(i), QStringLiteral("COM%1").arg(i + 1));
    }
    QCOMPARE(page.SpeedList()->count(), 2);
    QCOMPARE(page.SpeedList()->itemText(1), QStringLiteral("19200"));
    QCOMPARE(page.CableList()->count(), 2);
    QCOMPARE(page.CableList()->itemText(0), QStringLiteral("All Signals"));
    QVERIFY(!page.PortList()->isEditable());
    QCOMPARE(QApplication::focusWidget(), page.PortList());
  }

  // A good test open stores the choice and gives the port back as it was.
  void commStoresChoiceAndClosesPort() {
    QVERIFY(m_h->Show());
    QVERIFY(m_h->Next());
    QVERIFY(m_h->Next());
    QCOMPARE(m_h->CurrentId(), int(CBaseWizard::kBinFilePage));
    QCOMPARE(QByteArray(m_h->App().GetPortName()), QByteArray("COM1"));
    QCOMPARE(QByteArray(m_h->App().GetSpeed()), QByteArray("115200"));
    QCOMPARE(m_h->App().GetAllSignals(), 0);
    FakeSerialPlatform& serial = m_world->serial;
    QCOMPARE(serial.openedPath, std::string("/dev/ttyS0"));
    QCOMPARE(serial.openCount, 1);
    QCOMPARE(serial.closeCount, 1);
    QVERIFY(!serial.isOpen);
    QVERIFY(serial.current == serial.initialSettings);

    // Back on step 2 (an empty step 3 may not be left, so come by way of a file).
    m_h->Wizard().BinFilePage().PathEdit()->setText(FromCore(m_samples->Agent()));
    QVERIFY(m_h->Back());
    QCOMPARE(m_h->CurrentId(), int(CBaseWizard::kCommPage));
    CCommPage& page = m_h->Wizard().CommPage();
    QCOMPARE(page.PortList()->currentText(), QStringLiteral("COM1"));
    page.PortList()->setCurrentIndex(page.PortList()->findText(QStringLiteral("COM3")));
    page.SpeedList()->setCurrentIndex(1);
    page.CableList()->setCurrentIndex(0);
    QVERIFY(m_h->Next());
    QCOMPARE(QByteArray(m_h->App().GetPortName()), QByteArray("COM3"));
    QCOMPARE(QByteArray(m_h->App().GetSpeed()), QByteArray("19200"));
    QCOMPARE(m_h->App().GetAllSignals(), 1);
    QCOMPARE(serial.openedPath, std::string("/dev/ttyS2"));
    QVERIFY(!serial.isOpen);
    QVERIFY(m_h->Texts().empty());
  }

  // A port that cannot be opened: message 121 with the reason, on Next and on
  // Back; the page stays and the settings stored before stay as they were.
  void commRefusesPortOnNextAndBack() {
    m_h->App().SetPortName("COM4");
    m_h->App().SetSpeed("19200");
    m_h->App().SetAllSignals(1);
    FakeSerialPlatform& serial = m_world->serial;
    serial.failOpen = true;
    serial.openError = OpenError::Busy;
    QVERIFY(m_h->Show());
    QVERIFY(m_h->Next());
    QVERIFY(!m_h->Next());
    QCOMPARE(m_h->CurrentId(), int(CBaseWizard::kCommPage));
    QVERIFY(!m_h->Back());
    QCOMPARE(m_h->CurrentId(), int(CBaseWizard::kCommPage));

    OpenFailure why;
    why.kind = OpenError::Busy;
    why.detail = "fake";
    const std::string expected = Text121(DescribeOpenFailure(why, "/dev/ttyS0"));
    QCOMPARE(m_h->Texts(), std::vector<std::string>({expected, expected}));
    QCOMPARE(QByteArray(m_h->App().GetPortName()), QByteArray("COM4"));
    QCOMPARE(QByteArray(m_h->App().GetSpeed()), QByteArray("19200"));
    QCOMPARE(m_h->App().GetAllSignals(), 1);

    // Once the port is free, both ways out work again.
    serial.failOpen = false;
    QVERIFY(m_h->Back());
    QCOMPARE(m_h->CurrentId(), int(CBaseWizard::kWelcomePage));
    QCOMPARE(QByteArray(m_h->App().GetPortName()), QByteArray("COM1"));
    QCOMPARE(m_h->App().GetAllSignals(), 0);
  }

  // A port name mapped by the profile opens that device.
  void commUsesProfilePortMapping() {
    m_profile->WriteString("Ports", "COM2", "/dev/fake-adapter");
    QVERIFY(m_h->Show());
    QVERIFY(m_h->Next());
    CCommPage& page = m_h->Wizard().CommPage();
    QVERIFY(page.SelectPort(QStringLiteral("COM2")));
    QVERIFY(m_h->Next());
    QCOMPARE(m_world->serial.openedPath, std::string("/dev/fake-adapter"));
    QCOMPARE(QByteArray(m_h->App().GetPortName()), QByteArray("COM2"));
  }

  // Step 3 lets nobody on with no name, an unreadable name, or an image set
  // that does not resolve; a good file goes on to step 4.
  void binRefusals() {
    GoToBinPage();
    CBinFilePage& page = m_h->Wizard().BinFilePage();
    page.PathEdit()->clear();
    QVERIFY(!m_h->Next());
    QCOMPARE(m_h->Texts().back(), std::string(LoadStringResource(IDS_NO_FILENAME)));

    page.PathEdit()->setText(FromCore(m_samples->Path() + "/images/missing.bin"));
    QVERIFY(!m_h->Next());
    QCOMPARE(m_h->Texts().back(), std::string(LoadStringResource(IDS_BIN_NOT_FOUND)));

    // A directory can be opened for reading on this system, but it is no image.
    page.PathEdit()->setText(FromCore(m_samples->Path() + "/images"));
    QVERIFY(!m_h->Next());
    QCOMPARE(m_h->Texts().back(), std::string(LoadStringResource(IDS_BIN_NOT_FOUND)));

    // No loader for the prefix: the image set's own message; the path is kept.
    const std::string unknown = m_samples->Path() + "/images/zzz-agent.bin";
    std::filesystem::copy_file(m_samples->Agent(), unknown);
    page.PathEdit()->setText(FromCore(unknown));
    QVERIFY(!m_h->Next());
    QCOMPARE(m_h->Texts().back(), std::string(LoadStringResource(IDS_NO_LOADER)));
    QCOMPARE(QByteArray(m_h->App().GetAgentPath()), QByteArray::fromStdString(unknown));
    QCOMPARE(m_h->Texts().size(), std::size_t(4));
    QCOMPARE(m_h->CurrentId(), int(CBaseWizard::kBinFilePage));

    page.PathEdit()->setText(FromCore(m_samples->Agent()));
    QVERIFY(m_h->Next());
    QCOMPARE(m_h->CurrentId(), int(CBaseWizard::kPowerOffPage));
    QCOMPARE(QByteArray(m_h->App().GetLoaderPath()),
             QByteArray::fromStdString(m_samples->Loader()));
    QCOMPARE(m_h->Texts().size(), std::size_t(4));
  }

  void binRefusesOnBack() {
    GoToBinPage();
    m_h->Wizard().BinFilePage().PathEdit()->clear();
    QVERIFY(!m_h->Back());
    QCOMPARE(m_h->CurrentId(), int(CBaseWizard::kBinFilePage));
    QCOMPARE(m_h->Texts(), std::vector<std::string>({LoadStringResource(IDS_NO_FILENAME)}));
    m_h->Wizard().BinFilePage().PathEdit()->setText(QStringLiteral("/nonexistent/kvr.bin"));
    QVERIFY(!m_h->Back());
    QCOMPARE(m_h->Texts().back(), std::string(LoadStringResource(IDS_BIN_NOT_FOUND)));
    m_h->Wizard().BinFilePage().PathEdit()->setText(FromCore(m_samples->Agent()));
    QVERIFY(m_h->Back());
    QCOMPARE(m_h->CurrentId(), int(CBaseWizard::kCommPage));
  }

  // The path of the previous run is in the box, which has the focus; coming
  // back to the page shows the path stored last.
  void binShowsAgentPathWithFocus() {
    m_profile->WriteString("Last Bin File", "Filename", "/srv/images/kvr-old.bin");
    m_h->App().LoadLastAgentPath();
    GoToBinPage();
    CBinFilePage& page = m_h->Wizard().BinFilePage();
    QCOMPARE(page.PathEdit()->text(), QStringLiteral("/srv/images/kvr-old.bin"));
    QCOMPARE(QApplication::focusWidget(), page.PathEdit());
    QTest::keyClick(page.PathEdit(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), page.BrowseButton());

    page.PathEdit()->setText(FromCore(m_samples->Agent()));
    QVERIFY(m_h->Next());
    QVERIFY(m_h->Back());
    QCOMPARE(page.PathEdit()->text(), FromCore(m_samples->Agent()));
  }

  void browse() {
    GoToBinPage();
    CBinFilePage& page = m_h->Wizard().BinFilePage();
    page.PathEdit()->setText(QStringLiteral("typed by hand"));

    QStringList filters;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      filters = dialog->nameFilters();
      dialog->reject();
    });
    page.OnBrowse();
    QCOMPARE(filters, QStringList({QStringLiteral("BIN Files (*.BIN *.bin)"),
                                   QStringLiteral("All Files (*)")}));
    QCOMPARE(page.PathEdit()->text(), QStringLiteral("typed by hand"));

    const QString agent = FromCore(m_samples->Agent());
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      dialog->selectFile(agent);
      QMetaObject::invokeMethod(dialog, "accept");
    });
    page.BrowseButton()->click();
    QCOMPARE(page.PathEdit()->text(), agent);
    // Chosen, not yet taken: the image set resolves when the page is left.
    QVERIFY(m_h->App().GetLoaderPath() == nullptr);
    QVERIFY(m_h->Next());
  }

  void confirmationShowsChoice() {
    GoToBinPage();
    m_h->Wizard().BinFilePage().PathEdit()->setText(FromCore(m_samples->Agent()));
    QVERIFY(m_h->Next());
    CPowerOffPage& page = m_h->Wizard().PowerOffPage();
    QCOMPARE(page.PortName()->text(), QStringLiteral("COM1"));
    QCOMPARE(page.Speed()->text(), QStringLiteral("115200"));
    const QString shown = page.FileName()->text();
    QCOMPARE(shown, FromCore(m_h->App().GetAbbreviatedAgentPath(30)));
    QVERIFY2(shown.startsWith(QStringLiteral("/...")) && shown.endsWith("/kvr-agent.bin"),
             qPrintable(shown));
    QCOMPARE(page.BootFile()->text(), FromCore(m_samples->Loader()));
    QVERIFY(!page.BootFile()->isVisible());
    QCOMPARE(page.Products()->text(), QStringLiteral("NIMBREL7010 NIMBREL7020 "));
    QCOMPARE(LabelText(&page, "intro"), StringResource(107));
    QCOMPARE(LabelText(&page, "note"), StringResource(137));
  }

  void helpOpensStartPage() {
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    QVERIFY(m_h->Show());
    m_h->Button(QWizard::HelpButton)->click();
    QVERIFY(m_h->Next());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(recorder.urls.size(), 2);
    for (const QUrl& url : recorder.urls) {
      QVERIFY(url.isLocalFile());
      QCOMPARE(QFileInfo(url.toLocalFile()).fileName(), QStringLiteral("start.htm"));
      QVERIFY(QFileInfo(url.toLocalFile()).isFile());
    }
    QCOMPARE(m_h->CurrentId(), int(CBaseWizard::kCommPage));
  }

  // Beside the executable comes first; the sources are the last resort.
  void helpPageLookup() {
    TempDir dir;
    QVERIFY(QDir().mkpath(FromCore(dir / "help")));
    QVERIFY(WriteFile(dir / "help/start.htm", "<html></html>"));
    QCOMPARE(FindHelpPage(FromCore(dir.Path() + "/")),
             QFileInfo(FromCore(dir / "help/start.htm")).canonicalFilePath());
    TempDir empty;
    const QString fallback = FindHelpPage(FromCore(empty.Path() + "/"));
    QVERIFY(fallback.endsWith(QStringLiteral("res/help/start.htm")));
  }

  // Enter is Next, Escape is Cancel, and Cancel on a setup page closes at once.
  void keyboard() {
    QVERIFY(m_h->Show());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(m_h->CurrentId(), int(CBaseWizard::kCommPage));
    // Each list has its own mnemonic.
    CCommPage& page = m_h->Wizard().CommPage();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), page.SpeedList());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_T, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), page.CableList());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), page.PortList());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!m_h->Wizard().isVisible());
    QCOMPARE(m_h->Wizard().result(), int(QDialog::Rejected));
    QVERIFY(m_h->Texts().empty());
    QCOMPARE(m_world->serial.openCount, 0);
  }

 private:
  void GoToBinPage() {
    QVERIFY(m_h->Show());
    QVERIFY(m_h->Next());
    QVERIFY(m_h->Next());
    QCOMPARE(m_h->CurrentId(), int(CBaseWizard::kBinFilePage));
  }

  std::unique_ptr<SampleSet> m_samples;
  std::unique_ptr<MapProfile> m_profile;
  std::unique_ptr<FakeWorld> m_world;
  std::unique_ptr<WizardHarness> m_h;
};

int main(int argc, char** argv) {
  return RunGuiTests(argc, argv, [](int count, char** args) {
    PagesTest test;
    return QTest::qExec(&test, count, args);
  });
}

#include "gui_pages_test.moc"
