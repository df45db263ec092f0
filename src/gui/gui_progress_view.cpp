#include "gui/gui_progress_view.h"

#include "engine/result_code.h"
#include "gui/download_page.h"

namespace portflash {

void GuiProgressView::Attach(CDownloadPage* page) {
  std::lock_guard lock(m_mutex);
  m_page = page;
}

void GuiProgressView::Detach(const CDownloadPage* page) {
  std::lock_guard lock(m_mutex);
  if (m_page.data() == page) m_page = nullptr;
}

void GuiProgressView::Post(std::function<void(CDownloadPage&)> call) {
  // The page is detached under this lock before it is destroyed, so it is alive
  // while the call is posted; a posted call dies with its page.
  std::lock_guard lock(m_mutex);
  if (!m_page) return;
  QPointer<CDownloadPage> page = m_page;
  QMetaObject::invokeMethod(
      page.data(),
      [page, call = std::move(call)] {
        if (page) call(*page);
      },
      Qt::QueuedConnection);
}

void GuiProgressView::StepProgress(int channel, int delta) {
  if (channel == PROGRESS_SYNC) {
    Post([](CDownloadPage& page) { page.PulseSync(); });
  } else if (channel == PROGRESS_BOOT) {
    Post([delta](CDownloadPage& page) { page.StepBoot(delta); });
  } else {
    Post([delta](CDownloadPage& page) { page.StepAgent(delta); });
  }
}

void GuiProgressView::ShowEstimate(int channel, int percent, unsigned secondsLeft) {
  if (channel == PROGRESS_BOOT) {
    Post([=](CDownloadPage& page) { page.ShowBootEstimate(percent, secondsLeft); });
  } else {
    Post([=](CDownloadPage& page) { page.ShowAgentEstimate(percent, secondsLeft); });
  }
}

void GuiProgressView::ShowComplete(int channel) {
  if (channel == PROGRESS_BOOT) {
    Post([](CDownloadPage& page) { page.StepBoot(PROGRESS_DONE); });
  } else {
    Post([](CDownloadPage& page) { page.StepAgent(PROGRESS_DONE); });
  }
}

void GuiProgressView::ShowTook(int channel, int seconds) {
  if (channel == PROGRESS_BOOT) {
    Post([seconds](CDownloadPage& page) { page.ShowBootTook(seconds); });
  } else {
    Post([seconds](CDownloadPage& page) { page.ShowAgentTook(seconds); });
  }
}

void GuiProgressView::ShowDelayWarning(double seconds) {
  Post([seconds](CDownloadPage& page) { page.ShowDelayWarning(seconds); });
}

void GuiProgressView::ShowLineNote(const std::string& text) {
  Post([note = QString::fromStdString(text)](CDownloadPage& page) { page.ShowLineNote(note); });
}

}  // namespace portflash
