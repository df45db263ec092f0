#pragma once
// The download engine in the benchmark's own process: an application object with
// a profile that holds nothing, and a view and dialogs that note when the engine
// speaks, on the same monotonic clock as the simulator's trace.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/profile.h"
#include "app/update_app.h"
#include "engine/dialogs.h"
#include "engine/download_thread.h"
#include "engine/progress_view.h"
#include "support/bench.h"

namespace portflash::bench {

class EmptyProfile : public Profile {
 public:
  std::string GetString(const std::string&, const std::string&) override { return ""; }
  void WriteString(const std::string&, const std::string&, const std::string&) override {}
  void RemoveEntry(const std::string&, const std::string&) override {}
};

struct Stamped {
  SteadyClock::time_point at;
  std::string what;  // the message text, or "took 102", "complete 103", "clear" ...
};

// Every box is answered at once (OK; No to the cancel question).
class StampedDialogs : public Dialogs {
 public:
  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  std::vector<Stamped> Messages() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Stamped> messages_;
};

// Notes the calls that mark the ends of a transfer; the per-second steps are counted.
class StampedProgress : public ProgressView {
 public:
  void StepProgress(int channel, int delta) override;
  void ShowEstimate(int, int, unsigned) override {}
  void ShowComplete(int channel) override;
  void ShowTook(int channel, int seconds) override;
  void ShowDelayWarning(double seconds) override;
  std::vector<Stamped> Events() const;
  // The time of the first event named `what` at or after `from`.
  std::optional<SteadyClock::time_point> Find(const std::string& what,
                                              SteadyClock::time_point from) const;
  void Clear();

 private:
  void Add(std::string what);
  mutable std::mutex mutex_;
  std::vector<Stamped> events_;
};

class EngineRig {
 public:
  EngineRig();
  CUpdateApp& App() { return app_; }
  StampedDialogs& Dialogs() { return dialogs_; }
  StampedProgress& Progress() { return progress_; }

  // A download object whose port is open on `device` and through both stages of
  // the handshake for `speed` ("115200" or "19200"): ready for SendImage. Null,
  // with the reason noted, when either fails.
  std::shared_ptr<CDownloadThread> Connect(const std::string& device, const std::string& speed);
  // Settings for a whole download (RunDownload) of a sample set on `device`.
  bool UseImageSet(const SampleSet& set, const std::string& device, const std::string& speed);

 private:
  EmptyProfile profile_;
  StampedDialogs dialogs_;
  StampedProgress progress_;
  CUpdateApp app_;
};

}  // namespace portflash::bench
