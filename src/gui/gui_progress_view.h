#pragma once
#include <QPointer>
#include <functional>
#include <mutex>

#include "engine/progress_view.h"

namespace portflash {

class CDownloadPage;

// The engine's progress calls, made on the download thread, reach the download
// page as queued calls on the GUI thread. Once the page is detached (or gone),
// calls go nowhere, so a download that outlives the wizard touches no widget.
class GuiProgressView final : public ProgressView {
 public:
  void Attach(CDownloadPage* page);
  void Detach(const CDownloadPage* page);  // only if it is the attached one

  void StepProgress(int channel, int delta) override;
  void ShowEstimate(int channel, int percent, unsigned secondsLeft) override;
  void ShowComplete(int channel) override;
  void ShowTook(int channel, int seconds) override;
  void ShowDelayWarning(double seconds) override;
  void ShowLineNote(const std::string& text) override;

 private:
  void Post(std::function<void(CDownloadPage&)> call);

  std::mutex m_mutex;
  QPointer<CDownloadPage> m_page;
};

}  // namespace portflash
