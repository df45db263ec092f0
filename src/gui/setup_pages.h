#pragma once
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <string>

#include "gui/base_wizard_page.h"
#include "gui/path_label.h"

namespace portflash {

class Profile;

// The installed version as the welcome page shows it (also for portflash --version).
std::string InstallVersionText(Profile& profile);

// Names separated by blanks, as a label shows them: a line breaks only between names.
QString KeepNamesWhole(const QString& names);

// A path typed without extension names the file that has ".bin" in any case, when
// there is one; any other path is returned as it is.
QString WithBinExtension(const QString& path);

// Step 3's file dialog: ".BIN" files in every case, and the default extension.
class BinFileDialog final : public QFileDialog {
  Q_OBJECT
 public:
  explicit BinFileDialog(QWidget* parent);
  void accept() override;
};

// Step 1: greeting, the utility's version and the installed version.
class CWelcomePage final : public CBaseWizardPage {
  Q_OBJECT
 public:
  explicit CWelcomePage(GuiContext& context);
  void OnSetActive() override;
  QLabel* InstallVersion() const { return m_stcInstallVersion; }

 private:
  void ShowInstallVersion();
  QLabel* m_stcIntro;
  QLabel* m_stcVersion;
  QLabel* m_stcInstallVersion;
};

// Step 2: COM port, speed and cable; the port must open before the page is left.
class CCommPage final : public CBaseWizardPage {
  Q_OBJECT
 public:
  explicit CCommPage(GuiContext& context);
  void OnSetActive() override;
  bool OnKillActive() override;

  QComboBox* PortList() const { return m_cmbPort; }
  QComboBox* SpeedList() const { return m_cmbSpeed; }
  QComboBox* CableList() const { return m_cmbCable; }
  // Selects the port whose name (COMn or a device path) is given; false if not listed.
  bool SelectPort(const QString& name);

 private:
  void FillPortList();
  QLabel* m_stcIntro;
  QComboBox* m_cmbPort;
  QComboBox* m_cmbSpeed;
  QComboBox* m_cmbCable;
  QString m_strPort = QStringLiteral("COM1");
  QString m_strSpeed = QStringLiteral("115200");
  QString m_strCable = QStringLiteral("TX and RX Only");
};

// Step 3: the agent image file; it must exist and its image set must resolve.
class CBinFilePage final : public CBaseWizardPage {
  Q_OBJECT
 public:
  explicit CBinFilePage(GuiContext& context);
  void OnSetActive() override;
  bool OnKillActive() override;

  QLineEdit* PathEdit() const { return m_editPath; }
  QPushButton* BrowseButton() const { return m_btnBrowse; }

 public slots:
  void OnBrowse();

 private:
  QLabel* m_stcIntro;
  QLineEdit* m_editPath;
  QPushButton* m_btnBrowse;
  QString m_strPath;
};

// Step 4: what was chosen, and the products that the image can be loaded on.
class CPowerOffPage final : public CBaseWizardPage {
  Q_OBJECT
 public:
  explicit CPowerOffPage(GuiContext& context);
  void OnSetActive() override;

  QLabel* PortName() const { return m_stcPortName; }
  QLabel* Speed() const { return m_stcSpeed; }
  PathLabel* FileName() const { return m_stcFileName; }
  QLabel* BootFile() const { return m_stcBootFile; }
  QLabel* Products() const { return m_stcProducts; }

 private:
  QLabel* m_stcIntro;
  QLabel* m_stcNote;
  QLabel* m_stcPortName;
  QLabel* m_stcSpeed;
  PathLabel* m_stcFileName;
  QLabel* m_stcBootFile;
  QLabel* m_stcProducts;
};

}  // namespace portflash
