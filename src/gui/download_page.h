#pragma once
#include <QLabel>
#include <QProgressBar>
#include <QString>
#include <QTimer>

#include "gui/base_wizard_page.h"

namespace portflash {

class PathLabel;

// Moves a bar by one step of `step`, the way the classic progress control
// does: a step past either end of the range starts over at its minimum.
void StepProgressBar(QProgressBar& bar, int step);

// Step 5: starts the download and shows its progress. The engine's progress
// calls arrive here on the GUI thread (GuiProgressView); the bars move at once,
// the texts reach the screen on the one-second timer.
class CDownloadPage final : public CBaseWizardPage {
  Q_OBJECT
 public:
  explicit CDownloadPage(GuiContext& context);
  ~CDownloadPage() override;

  void PulseSync();
  void StepBoot(int delta);
  void StepAgent(int delta);
  void ShowBootEstimate(int percent, unsigned secondsLeft);
  void ShowAgentEstimate(int percent, unsigned secondsLeft);
  void ShowBootTook(int seconds);
  void ShowAgentTook(int seconds);
  void ShowDelayWarning(double seconds);
  void ShowLineNote(const QString& text);  // empty hides it

  void ResetDisplay();
  void StartDownload();
  void OnSetActive() override;
  bool OnQueryCancel() override;
  bool OnWizardFinish();
  void OnTimer();

  bool isComplete() const override { return m_bFinishEnabled; }
  bool validatePage() override { return OnWizardFinish(); }

  QProgressBar* SyncBar() const { return m_prgSync; }
  QProgressBar* BootBar() const { return m_prgBoot; }
  QProgressBar* AgentBar() const { return m_prgAgent; }
  QLabel* Status() const { return m_stcStatus; }
  QLabel* DelayWarning() const { return m_stcDelayWarning; }
  QLabel* LineNote() const { return m_stcLineNote; }
  QLabel* BootFile() const;
  QLabel* AgentFile() const;
  QLabel* BootPercent() const { return m_stcBootPercent; }
  QLabel* AgentPercent() const { return m_stcAgentPercent; }
  QLabel* BootEstimate() const { return m_stcBootEstimate; }
  QLabel* AgentEstimate() const { return m_stcAgentEstimate; }
  const QTimer& Timer() const { return m_timer; }

 private:
  void StepRow(QProgressBar* bar, QString& percent, QString& estimate, int delta);
  void SetFinishEnabled(bool enabled);
  void UpdateData();  // the texts to the screen

  QProgressBar* m_prgSync;
  QProgressBar* m_prgAgent;
  QProgressBar* m_prgBoot;
  QLabel* m_stcStatus;
  QLabel* m_stcDelayWarning;
  QLabel* m_stcLineNote;
  QLabel* m_stcTotalTime;
  PathLabel* m_stcBootFile;
  PathLabel* m_stcAgentFile;
  QLabel* m_stcBootPercent;
  QLabel* m_stcAgentPercent;
  QLabel* m_stcBootEstimate;
  QLabel* m_stcAgentEstimate;

  QString m_strAgentFile;
  QString m_strAgentPercent;
  QString m_strBootFile;
  QString m_strBootPercent;
  QString m_strAgentEstimate;
  QString m_strBootEstimate;
  QString m_strTotalTime;
  QString m_strDelayWarning;

  QTimer m_timer;
  bool m_bFinishEnabled = false;
  bool m_bStopping = false;  // in StopDownload: the wizard is not to be closed meanwhile
};

}  // namespace portflash
