#pragma once
#include <QWizard>

namespace portflash {

struct GuiContext;
class CBaseWizardPage;
class CWelcomePage;
class CCommPage;
class CBinFilePage;
class CPowerOffPage;
class CDownloadPage;

// The wizard: five pages in order, Back and Next checked by the page being
// left, Cancel asked of the current page, Help on the Help button and F1.
class CBaseWizard final : public QWizard {
  Q_OBJECT
 public:
  enum PageId { kWelcomePage, kCommPage, kBinFilePage, kPowerOffPage, kDownloadPage };

  explicit CBaseWizard(GuiContext& context, QWidget* parent = nullptr);
  ~CBaseWizard() override;

  CWelcomePage& WelcomePage() const { return *m_pageWelcome; }
  CCommPage& CommPage() const { return *m_pageComm; }
  CBinFilePage& BinFilePage() const { return *m_pageBinFile; }
  CPowerOffPage& PowerOffPage() const { return *m_pagePowerOff; }
  CDownloadPage& DownloadPage() const { return *m_pageDownload; }
  CBaseWizardPage* CurrentPage() const;

  // Cancel, Escape and the close box: the current page may refuse.
  void reject() override;

 public slots:
  void OnBack();
  void OnHelp();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void OnPageChanged(int id);

  GuiContext& m_context;
  CWelcomePage* m_pageWelcome;
  CCommPage* m_pageComm;
  CBinFilePage* m_pageBinFile;
  CPowerOffPage* m_pagePowerOff;
  CDownloadPage* m_pageDownload;
  bool m_sized = false;
};

}  // namespace portflash
