#pragma once
#include <string>

namespace portflash {

// The download page as the engine sees it. Called on the download thread.
class ProgressView {
 public:
  virtual ~ProgressView() = default;
  virtual void StepProgress(int channel, int delta) = 0;
  virtual void ShowEstimate(int channel, int percent, unsigned secondsLeft) = 0;
  virtual void ShowComplete(int channel) = 0;
  virtual void ShowTook(int channel, int seconds) = 0;
  virtual void ShowDelayWarning(double seconds) = 0;
  // A line about why the download is held (empty: the hold is over).
  virtual void ShowLineNote(const std::string& text) { (void)text; }
};

}  // namespace portflash
