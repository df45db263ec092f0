#include "gui/setup_pages.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <string>

#include "app/port_list.h"
#include "app/profile.h"
#include "app/update_app.h"
#include "engine/dialogs.h"
#include "engine/serial_link.h"
#include "engine/strings.h"
#include "gui/gui_context.h"
#include "gui/text.h"
#include "image/image_files.h"
#include "res/string_table.h"

namespace portflash {
namespace {

QLabel* RightAlignedLabel(const QString& text, QWidget* buddy, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label->setBuddy(buddy);
  return label;
}

// A label text with a keyboard mnemonic on the first letter of `word`.
QString WithMnemonic(QString text, const QString& word) {
  const qsizetype at = text.indexOf(word);
  if (at >= 0) text.insert(at, QLatin1Char('&'));
  return text;
}

QComboBox* FixedList(const QStringList& items, QWidget* parent) {
  auto* list = new QComboBox(parent);
  list->setEditable(false);
  for (const QString& item : items) list->addItem(item, item);
  return list;
}

// Like the dialog exchange: the first item that begins with the text.
void SelectStartingWith(QComboBox* list, const QString& text) {
  for (int i = 0; i < list->count(); ++i) {
    if (list->itemText(i).startsWith(text)) {
      list->setCurrentIndex(i);
      return;
    }
  }
}

}  // namespace

// ---- Step 1 ---------------------------------------------------------------

CWelcomePage::CWelcomePage(GuiContext& context) : CBaseWizardPage(context, 1) {
  m_stcTitle->setText(StringResource(104));
  m_stcIntro = AddText(StringResource(105), "intro");
  Body()->addSpacing(12);
  m_stcVersion = AddText(StringResource(IDS_UTILITY_VERSION), "version");
  m_stcInstallVersion = AddText(QString(), "installVersion");
  Body()->addStretch(1);
  ShowInstallVersion();
}

void CWelcomePage::OnSetActive() {
  ShowInstallVersion();
}

std::string InstallVersionText(Profile& profile) {
  const std::string version = profile.GetString("Install Version", "Version");
  return version.empty() ? "CANNOT FIND INSTALL VERSION" : version;
}

void CWelcomePage::ShowInstallVersion() {
  m_stcInstallVersion->setText(FromCore(InstallVersionText(m_context.app.GetProfile())));
}

// ---- Step 2 ---------------------------------------------------------------

CCommPage::CCommPage(GuiContext& context) : CBaseWizardPage(context, 2) {
  m_stcTitle->setText(StringResource(132));
  m_stcIntro = AddText(StringResource(106), "intro");
  Body()->addSpacing(8);

  m_cmbPort = new QComboBox(this);
  m_cmbPort->setObjectName(QStringLiteral("port"));
  m_cmbPort->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  m_cmbPort->setMinimumContentsLength(12);
  FillPortList();
  m_cmbSpeed = FixedList({"115200", "19200"}, this);
  m_cmbSpeed->setObjectName(QStringLiteral("speed"));
  m_cmbCable = FixedList({"All Signals", "TX and RX Only"}, this);
  m_cmbCable->setObjectName(QStringLiteral("cable"));

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(10);
  grid->addWidget(RightAlignedLabel(WithMnemonic(StringResource(134), "COM"), m_cmbPort, this), 0,
                  0);
  grid->addWidget(m_cmbPort, 0, 1);
  grid->addWidget(RightAlignedLabel(WithMnemonic(StringResource(133), "Speed"), m_cmbSpeed, this),
                  1, 0);
  grid->addWidget(m_cmbSpeed, 1, 1);
  grid->addWidget(RightAlignedLabel(WithMnemonic(StringResource(139), "Type"), m_cmbCable, this), 2,
                  0);
  grid->addWidget(m_cmbCable, 2, 1);
  grid->setColumnStretch(0, 1);
  Body()->addLayout(grid);
  Body()->addStretch(1);

  setTabOrder(m_cmbPort, m_cmbSpeed);
  setTabOrder(m_cmbSpeed, m_cmbCable);
  SelectPort(m_strPort);
  SelectStartingWith(m_cmbSpeed, m_strSpeed);
  SelectStartingWith(m_cmbCable, m_strCable);
}

void CCommPage::FillPortList() {
  // COM1 to COM4 (which the profile may map to any device), then the serial
  // devices that are really there, USB adapters first.
  for (const PortChoice& choice : AvailablePortChoices(FindPresentPorts())) {
    m_cmbPort->addItem(FromCore(choice.label), FromCore(choice.name));
    m_cmbPort->setItemData(m_cmbPort->count() - 1, FromCore(choice.note), Qt::ToolTipRole);
  }
}

bool CCommPage::SelectPort(const QString& name) {
  const int index = m_cmbPort->findData(name);
  if (index < 0) return false;
  m_cmbPort->setCurrentIndex(index);
  return true;
}

void CCommPage::OnSetActive() {
  m_cmbPort->setFocus();
}

bool CCommPage::OnKillActive() {
  m_strPort = m_cmbPort->currentData().toString();
  m_strSpeed = m_cmbSpeed->currentText();
  m_strCable = m_cmbCable->currentText();

  const std::string port = ToCore(m_strPort);
  OpenFailure why;
  CommHandle handle = OpenCommPort(port.c_str(), &why);
  if (handle == nullptr) {
    m_context.app.GetDialogs().ShowMessage(OpenFailureMessage(port.c_str(), why));
    return false;
  }
  CUpdateApp& app = m_context.app;
  app.SetPortName(port.c_str());
  app.SetSpeed(ToCore(m_strSpeed).c_str());
  app.SetAllSignals(StringsEqual(ToCore(m_strCable).c_str(), "All Signals") ? 1 : 0);
  CloseCommPort(handle);
  return true;
}

// ---- Step 3 ---------------------------------------------------------------

CBinFilePage::CBinFilePage(GuiContext& context) : CBaseWizardPage(context, 3) {
  m_stcTitle->setText(StringResource(135));
  m_stcIntro = AddText(StringResource(108), "intro");
  Body()->addSpacing(8);

  m_editPath = new QLineEdit(this);
  m_editPath->setObjectName(QStringLiteral("path"));
  m_editPath->setMinimumWidth(220);
  m_btnBrowse = new QPushButton(QStringLiteral("B&rowse..."), this);
  m_btnBrowse->setObjectName(QStringLiteral("browse"));
  m_btnBrowse->setAutoDefault(false);
  connect(m_btnBrowse, &QPushButton::clicked, this, &CBinFilePage::OnBrowse);

  auto* row = new QHBoxLayout;
  row->addWidget(RightAlignedLabel(QStringLiteral("&Filename:"), m_editPath, this));
  row->addWidget(m_editPath, 1);
  Body()->addLayout(row);
  auto* buttonRow = new QHBoxLayout;
  buttonRow->addStretch(1);
  buttonRow->addWidget(m_btnBrowse);
  Body()->addLayout(buttonRow);
  Body()->addStretch(1);
  setTabOrder(m_editPath, m_btnBrowse);
}

void CBinFilePage::OnSetActive() {
  m_strPath = FromCore(m_context.app.GetAgentPath());
  m_editPath->setText(m_strPath);
  m_editPath->setFocus();
}

void CBinFilePage::OnBrowse() {
  QFileDialog dialog(this, QStringLiteral("Open"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilters(
      {QStringLiteral("BIN Files (*.BIN *.bin)"), QStringLiteral("All Files (*)")});
  dialog.setDefaultSuffix(QStringLiteral("BIN"));
  const QFileInfo current(m_editPath->text());
  if (!m_editPath->text().isEmpty() && current.absoluteDir().exists()) {
    dialog.setDirectory(current.absoluteDir());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  m_editPath->setText(QDir::toNativeSeparators(dialog.selectedFiles().constFirst()));
}

bool CBinFilePage::OnKillActive() {
  m_strPath = m_editPath->text();
  Dialogs& dialogs = m_context.app.GetDialogs();
  if (m_strPath.isEmpty()) {
    dialogs.ShowMessage(LoadStringResource(IDS_NO_FILENAME));
    return false;
  }
  const std::string path = ToCore(m_strPath);
  // Held open while the image set resolves, as the file was checked.
  FileHandle file = OpenRegularFile(path.c_str(), "r");
  if (!file) {
    dialogs.ShowMessage(LoadStringResource(IDS_BIN_NOT_FOUND));
    return false;
  }
  return m_context.app.SetAgentPath(path.c_str()) != 0;
}

// ---- Step 4 ---------------------------------------------------------------

CPowerOffPage::CPowerOffPage(GuiContext& context) : CBaseWizardPage(context, 4) {
  m_stcTitle->setText(StringResource(136));
  m_stcIntro = AddText(StringResource(107), "intro");
  m_stcNote = AddText(StringResource(137), "note");

  auto* details = new QGroupBox(QStringLiteral("Download Details"), this);
  auto* form = new QFormLayout(details);
  form->setLabelAlignment(Qt::AlignRight);
  m_stcPortName = new QLabel(details);
  m_stcSpeed = new QLabel(details);
  m_stcFileName = new QLabel(details);
  m_stcFileName->setTextFormat(Qt::PlainText);
  form->addRow(QStringLiteral("Com Port:"), m_stcPortName);
  form->addRow(QStringLiteral("Com Speed:"), m_stcSpeed);
  form->addRow(QStringLiteral("Filename:"), m_stcFileName);
  // The loader's path is kept with the summary but never shown.
  m_stcBootFile = new QLabel(details);
  m_stcBootFile->setVisible(false);
  Body()->addWidget(details);

  auto* products = new QGroupBox(
      QStringLiteral("The file chosen can be downloaded to the following products"), this);
  auto* productsLayout = new QVBoxLayout(products);
  m_stcProducts = new QLabel(products);
  m_stcProducts->setWordWrap(true);
  m_stcProducts->setTextFormat(Qt::PlainText);
  m_stcProducts->setMinimumHeight(m_stcProducts->fontMetrics().lineSpacing() * 3);
  m_stcProducts->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  productsLayout->addWidget(m_stcProducts);
  Body()->addWidget(products);
  Body()->addStretch(1);
}

void CPowerOffPage::OnSetActive() {
  CUpdateApp& app = m_context.app;
  m_stcPortName->setText(FromCore(app.GetPortName()));
  m_stcSpeed->setText(FromCore(app.GetSpeed()));
  m_stcFileName->setText(FromCore(app.GetAbbreviatedAgentPath(30)));
  m_stcBootFile->setText(FromCore(app.GetLoaderPath()));
  m_stcProducts->setText(FromCore(app.GetProductList()));
}

}  // namespace portflash
