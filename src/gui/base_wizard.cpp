#include "gui/base_wizard.h"

#include <QAbstractButton>
#include <QLayout>
#include <QShortcut>

#include "app/update_app.h"
#include "gui/download_page.h"
#include "gui/gui_context.h"
#include "gui/help.h"
#include "gui/setup_pages.h"
#include "gui/text.h"
#include "res/string_table.h"

namespace portflash {

CBaseWizard::CBaseWizard(GuiContext& context, QWidget* parent)
    : QWizard(parent),
      m_context(context),
      m_pageWelcome(new CWelcomePage(context)),
      m_pageComm(new CCommPage(context)),
      m_pageBinFile(new CBinFilePage(context)),
      m_pagePowerOff(new CPowerOffPage(context)),
      m_pageDownload(new CDownloadPage(context)) {
  setWindowTitle(StringResource(IDS_WIZARD));
  setWizardStyle(QWizard::ClassicStyle);
  setOption(QWizard::HaveHelpButton);
  // Once the download page is up, the setup pages cannot be reached again.
  setOption(QWizard::NoBackButtonOnLastPage);
  setPage(kWelcomePage, m_pageWelcome);
  setPage(kCommPage, m_pageComm);
  setPage(kBinFilePage, m_pageBinFile);
  setPage(kPowerOffPage, m_pagePowerOff);
  setPage(kDownloadPage, m_pageDownload);
  setStartId(kWelcomePage);

  // Leaving a page backwards is checked like leaving it forwards.
  QAbstractButton* back = button(QWizard::BackButton);
  disconnect(back, &QAbstractButton::clicked, this, nullptr);
  connect(back, &QAbstractButton::clicked, this, &CBaseWizard::OnBack);

  connect(this, &QWizard::helpRequested, this, &CBaseWizard::OnHelp);
  auto* help = new QShortcut(QKeySequence::HelpContents, this);
  connect(help, &QShortcut::activated, this, &CBaseWizard::OnHelp);
  connect(this, &QWizard::currentIdChanged, this, &CBaseWizard::OnPageChanged);
}

CBaseWizard::~CBaseWizard() = default;

CBaseWizardPage* CBaseWizard::CurrentPage() const {
  return qobject_cast<CBaseWizardPage*>(currentPage());
}

void CBaseWizard::OnPageChanged(int id) {
  auto* page = qobject_cast<CBaseWizardPage*>(this->page(id));
  if (page == nullptr) return;
  setWindowTitle(page->Caption());
  page->OnSetActive();
}

void CBaseWizard::showEvent(QShowEvent* event) {
  if (!m_sized) {
    // One size for all pages, so that the wizard keeps its size from page to
    // page; measured once the pages have their style and fonts.
    m_sized = true;
    QSize largest;
    for (int id : pageIds()) {
      page(id)->ensurePolished();
      largest = largest.expandedTo(page(id)->sizeHint());
    }
    for (int id : pageIds()) page(id)->setMinimumSize(largest);
    if (layout() != nullptr) layout()->activate();
    resize(sizeHint());
  }
  QWizard::showEvent(event);
}

void CBaseWizard::OnBack() {
  CBaseWizardPage* page = CurrentPage();
  if (page != nullptr && !page->OnKillActive()) return;
  back();
}

void CBaseWizard::reject() {
  CBaseWizardPage* page = CurrentPage();
  if (page != nullptr && !page->OnQueryCancel()) return;
  QWizard::reject();
}

void CBaseWizard::OnHelp() {
  // Nothing to show it with, or no page: nothing happens, as with a missing viewer.
  ShowHelpPage(FromCore(m_context.app.GetAppDir()));
}

}  // namespace portflash
