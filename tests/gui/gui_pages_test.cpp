// What steps 3 to 5 show of the files: the Browse dialog on a case-sensitive file
// system, long paths, and product names that must not be broken across lines.
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTextLayout>
#include <QTimer>
#include <filesystem>

#include "gui/path_label.h"
#include "gui/setup_pages.h"
#include "gui/text.h"
#include "support/fakes.h"
#include "unit/image_test_files.h"
#include "wizard_harness.h"

using namespace portflash;
using namespace portflash::testing;

namespace {

int Ellipses(const QString& text) {
  return static_cast<int>(text.count(QStringLiteral("...")) + text.count(QChar(0x2026)));
}

class PagesTest : public QObject {
  Q_OBJECT
 private slots:
  // Every case of ".bin" is listed, also by a dialog that matches patterns
  // case-sensitively (as the desktop's may), and a name typed without extension
  // finds the file whatever the case of its extension.
  void browseListsEveryCaseAndFindsATypedNameWithoutExtension() {
    const QString dir = FromCore(m_dir.Path()) + "/browse";
    QVERIFY(QDir().mkpath(dir));
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
    QString box;  // a "not found" box would stop accept() in its own event loop
    QTimer::singleShot(0, [&] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        box = modal->windowTitle();
        modal->close();
      }
    });
    dialog.accept();
    QCOMPARE(box, QString());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.selectedFiles().size(), 1);
    QCOMPARE(WithBinExtension(dialog.selectedFiles().constFirst()), dir + "/kvr-agent.bIn");
    QCOMPARE(WithBinExtension(dir + "/b"), dir + "/b.BIN");
    QCOMPARE(WithBinExtension(dir + "/notes"), dir + "/notes");
  }

  // Step 4: a 120-character file name is shortened once, with one ellipsis, to the
  // label's width (its own 30-character form does not fit); the tool tip has it
  // whole. Hyphenated product names are never split across lines.
  void confirmationShowsLongPathAndWholeProductNames() {
    const std::string name =
        "kvr-" + std::string(112, 'n') + ".bin";  // 120 characters, none to break at
    const QStringList products = {"NIMBREL7010", "PRODUCT02-LONGNAME", "NIMBREL-7030-X/Y.Z",
                                  "CORVANE-2200-LONGNAME"};
    std::filesystem::create_directories(m_dir.Path() + "/set");
    MapProfile profile;
    profile.sections["LDR Filename"]["kvr"] = "kvr.ldr";
    std::string loader = Bytes({0xFF, 0xFF, 0xFF, 0xFF});
    std::string agent;
    for (const QString& product : products) {
      loader += "P" + Bytes({0x01}) + ToCore(product) + '\0';
      agent += Product(ToCore(product));
    }
    QVERIFY(WriteFile(m_dir.Path() + "/set/kvr.ldr", loader + Bytes({0xFF}) + "body"));
    const std::string path = m_dir.Path() + "/set/" + name;
    QVERIFY(WriteFile(path, agent + Record('I', "") + "body"));

    WizardHarness h(profile);
    h.App().SetAppDir((m_dir.Path() + "/set/").c_str());
    QCOMPARE(h.App().SetAgentPath(path.c_str()), 1);
    CPowerOffPage& page = h.Wizard().PowerOffPage();
    page.OnSetActive();

    PathLabel* file = page.FileName();
    QCOMPARE(file->toolTip(), FromCore(path));
    for (int width : {150, 400, 2000}) {
      file->resize(width, file->height());
      const QString shown = file->ShownText();
      QVERIFY2(Ellipses(shown) == 1, qPrintable(shown));
      QVERIFY(file->fontMetrics().horizontalAdvance(shown) <= file->contentsRect().width());
    }
    QCOMPARE(file->ShownText(), FromCore(h.App().GetAbbreviatedAgentPath(30)));  // it fits

    QLabel* list = page.Products();
    const int width = list->fontMetrics().horizontalAdvance(QStringLiteral("PRODUCT02-LONGNAME X"));
    QTextLayout layout(list->text(), list->font());
    layout.setTextOption(QTextOption(Qt::AlignLeft));  // word wrap, as the label's
    layout.beginLayout();
    QStringList lines;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(width);
      lines << list->text().mid(line.textStart(), line.textLength()).remove(QChar(0x2060));
    }
    layout.endLayout();
    QVERIFY2(lines.size() >= 3, qPrintable(lines.join('|')));
    for (const QString& line : lines) {
      for (const QString& part : line.split(u' ', Qt::SkipEmptyParts)) {
        QVERIFY2(products.contains(part), qPrintable(lines.join('|')));
      }
    }
  }

 private:
  TempDir m_dir;
};

}  // namespace

int main(int argc, char** argv) {
  return RunGuiTests(argc, argv, [](int count, char** args) {
    PagesTest test;
    return QTest::qExec(&test, count, args);
  });
}

#include "gui_pages_test.moc"
