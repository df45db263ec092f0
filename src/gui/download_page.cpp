#include "gui/download_page.h"

#include <QApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QWizard>

#include "app/update_app.h"
#include "engine/dialogs.h"
#include "engine/result_code.h"
#include "gui/gui_context.h"
#include "gui/gui_progress_view.h"
#include "gui/path_label.h"
#include "gui/text.h"
#include "res/string_table.h"

namespace portflash {
namespace {

constexpr int kTimerPeriodMs = 1000;
const char kDelayWarningText[] =
    "Detecting severe network delays. To improve serial download performance, copy agent file to "
    "a local drive";

QProgressBar* MakeBar(const QByteArray& name, QWidget* parent) {
  auto* bar = new QProgressBar(parent);
  bar->setObjectName(QString::fromLatin1(name));
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  return bar;
}

QLabel* MakeLabel(const QByteArray& name, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}

PathLabel* MakePathLabel(const QByteArray& name, QWidget* parent) {
  auto* label = new PathLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  return label;
}

QString TimeLeftText(unsigned secondsLeft) {
  return QString::asprintf("Time left: %02u:%02u", secondsLeft / 60, secondsLeft % 60);
}

QString PercentText(int percent) {
  return QString::asprintf("%d%s Done", percent, "%");
}

QString TookText(int seconds) {
  return QString::asprintf("Took: %d secs", seconds);
}

}  // namespace

void StepProgressBar(QProgressBar& bar, int step) {
  const long long next = static_cast<long long>(bar.value()) + step;
  if (next > bar.maximum() || next < bar.minimum()) {
    bar.setValue(bar.minimum());
  } else {
    bar.setValue(static_cast<int>(next));
  }
}

CDownloadPage::CDownloadPage(GuiContext& context) : CBaseWizardPage(context, 5) {
  m_stcTitle->setText(StringResource(138));

  m_stcDelayWarning = MakeLabel("delayWarning", this);
  m_stcDelayWarning->setWordWrap(true);
  m_stcDelayWarning->setMinimumHeight(m_stcDelayWarning->fontMetrics().lineSpacing() * 2);
  m_stcDelayWarning->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Body()->addWidget(m_stcDelayWarning);

  m_stcStatus = MakeLabel("status", this);
  m_stcStatus->setWordWrap(true);
  m_stcStatus->setText(StringResource(110));
  Body()->addWidget(m_stcStatus);
  // Why the download is held, while it is.
  m_stcLineNote = MakeLabel("lineNote", this);
  m_stcLineNote->setWordWrap(true);
  m_stcLineNote->setVisible(false);
  Body()->addWidget(m_stcLineNote);
  m_prgSync = MakeBar("syncBar", this);
  Body()->addWidget(m_prgSync);
  // Kept as the page has always had it: hidden, and nothing but a reset writes it.
  m_stcTotalTime = MakeLabel("totalTime", this);
  m_stcTotalTime->setVisible(false);

  auto* group = new QGroupBox(QStringLiteral("Download Information"), this);
  auto* rows = new QVBoxLayout(group);
  rows->setSpacing(6);
  const int percentWidth = fontMetrics().horizontalAdvance(QStringLiteral("100% Done")) +
                           fontMetrics().averageCharWidth() * 4;
  auto addRow = [&](PathLabel*& file, QLabel*& percent, QLabel*& estimate, QProgressBar*& bar,
                    const char* prefix) {
    const QByteArray name(prefix);
    file = MakePathLabel(name + "File", group);
    percent = MakeLabel(name + "Percent", group);
    percent->setAlignment(Qt::AlignCenter);
    percent->setMinimumWidth(percentWidth);
    estimate = MakeLabel(name + "Estimate", group);
    bar = MakeBar(name + "Bar", group);
    rows->addWidget(file);
    auto* texts = new QHBoxLayout;
    texts->addWidget(percent);
    texts->addWidget(estimate, 1);
    rows->addLayout(texts);
    rows->addWidget(bar);
  };
  addRow(m_stcBootFile, m_stcBootPercent, m_stcBootEstimate, m_prgBoot, "boot");
  rows->addSpacing(8);
  addRow(m_stcAgentFile, m_stcAgentPercent, m_stcAgentEstimate, m_prgAgent, "agent");
  Body()->addWidget(group);
  Body()->addStretch(1);

  m_timer.setInterval(kTimerPeriodMs);
  connect(&m_timer, &QTimer::timeout, this, &CDownloadPage::OnTimer);
  m_context.progress.Attach(this);
}

CDownloadPage::~CDownloadPage() {
  m_context.progress.Detach(this);
}

QLabel* CDownloadPage::BootFile() const {
  return m_stcBootFile;
}

QLabel* CDownloadPage::AgentFile() const {
  return m_stcAgentFile;
}

void CDownloadPage::PulseSync() {
  StepProgressBar(*m_prgSync, 5);
}

void CDownloadPage::StepRow(QProgressBar* bar, QString& percent, QString& estimate, int delta) {
  if (delta == PROGRESS_DONE) {
    bar->setValue(100);
    percent = StringResource(IDS_COMPLETE);
    estimate = StringResource(IDS_WAITING);
  } else {
    StepProgressBar(*bar, delta);
  }
}

void CDownloadPage::StepBoot(int delta) {
  StepRow(m_prgBoot, m_strBootPercent, m_strBootEstimate, delta);
}

void CDownloadPage::StepAgent(int delta) {
  StepRow(m_prgAgent, m_strAgentPercent, m_strAgentEstimate, delta);
}

void CDownloadPage::ShowBootEstimate(int percent, unsigned secondsLeft) {
  m_strBootEstimate = TimeLeftText(secondsLeft);
  m_strBootPercent = PercentText(percent);
}

void CDownloadPage::ShowAgentEstimate(int percent, unsigned secondsLeft) {
  m_strAgentEstimate = TimeLeftText(secondsLeft);
  m_strAgentPercent = PercentText(percent);
}

void CDownloadPage::ShowBootTook(int seconds) {
  m_strBootEstimate = TookText(seconds);
}

void CDownloadPage::ShowAgentTook(int seconds) {
  m_strAgentEstimate = TookText(seconds);
}

void CDownloadPage::ShowDelayWarning(double seconds) {
  m_strDelayWarning = seconds == 0.0 ? QString() : QString::fromLatin1(kDelayWarningText);
}

void CDownloadPage::ShowLineNote(const QString& text) {
  m_stcLineNote->setText(text);
  m_stcLineNote->setVisible(!text.isEmpty());
}

void CDownloadPage::ResetDisplay() {
  ShowLineNote(QString());
  for (QProgressBar* bar : {m_prgSync, m_prgAgent, m_prgBoot}) bar->setRange(0, 100);
  for (QProgressBar* bar : {m_prgSync, m_prgAgent, m_prgBoot}) bar->setValue(0);
  for (QString* text : {&m_strAgentFile, &m_strAgentPercent, &m_strBootFile, &m_strBootPercent,
                        &m_strAgentEstimate, &m_strBootEstimate, &m_strTotalTime}) {
    text->clear();
  }
  UpdateData();
}

void CDownloadPage::StartDownload() {
  CUpdateApp& app = m_context.app;
  ResetDisplay();
  m_strBootFile = FromCore(app.GetLoaderPath());
  m_strAgentFile = FromCore(app.GetAbbreviatedAgentPath(80));
  if (app.StartDownload()) m_context.downloads.Add(app.GetDownloadThread());
  SetFinishEnabled(!app.IsDownloadSet());
  UpdateData();
}

void CDownloadPage::OnSetActive() {
  CUpdateApp& app = m_context.app;
  m_strBootFile = FromCore(app.GetLoaderPath());
  m_strAgentFile = FromCore(app.GetAbbreviatedAgentPath(80));
  UpdateData();
  SetFinishEnabled(false);
  if (QWizard* sheet = wizard()) {
    sheet->setButtonText(QWizard::FinishButton, QStringLiteral("Again?"));
  }
  m_timer.start();
  if (app.IsDownloadSet()) {
    app.GetDialogs().ShowMessage(LoadStringResource(IDS_DOWNLOADING));
  } else {
    StartDownload();
  }
}

void CDownloadPage::OnTimer() {
  SetFinishEnabled(!m_context.app.IsDownloadSet());
  UpdateData();
}

bool CDownloadPage::OnQueryCancel() {
  if (m_bStopping) return false;
  CUpdateApp& app = m_context.app;
  if (!app.IsDownloadSet()) {
    m_timer.stop();
    return true;
  }
  if (app.GetDialogs().AskYesNo(LoadStringResource(IDS_CANCEL_QUESTION))) {
    // The wait goes on handling events (the app's event pump), but the user's
    // input waits until the download has stopped.
    m_bStopping = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    app.StopDownload();
    QApplication::restoreOverrideCursor();
    m_bStopping = false;
    // Progress that the stopped thread posted must not land on the fresh display.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    ResetDisplay();
  }
  return false;
}

bool CDownloadPage::OnWizardFinish() {
  if (m_bStopping) return false;
  if (!m_context.app.IsDownloadSet()) StartDownload();
  return false;
}

void CDownloadPage::SetFinishEnabled(bool enabled) {
  if (enabled == m_bFinishEnabled) return;
  m_bFinishEnabled = enabled;
  emit completeChanged();
}

void CDownloadPage::UpdateData() {
  m_stcAgentFile->SetPath(m_strAgentFile);
  m_stcAgentPercent->setText(m_strAgentPercent);
  m_stcBootFile->SetPath(m_strBootFile);
  m_stcBootPercent->setText(m_strBootPercent);
  m_stcAgentEstimate->setText(m_strAgentEstimate);
  m_stcBootEstimate->setText(m_strBootEstimate);
  m_stcTotalTime->setText(m_strTotalTime);
  m_stcDelayWarning->setText(m_strDelayWarning);
}

}  // namespace portflash
