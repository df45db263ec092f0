#include "support/engine_rig.h"

#include "engine/serial_link.h"

namespace portflash::bench {

void StampedDialogs::ShowMessage(const std::string& text) {
  const auto now = SteadyClock::now();
  std::lock_guard lock(mutex_);
  messages_.push_back({now, text});
}

bool StampedDialogs::AskYesNo(const std::string& text) {
  const auto now = SteadyClock::now();
  std::lock_guard lock(mutex_);
  messages_.push_back({now, "?" + text});
  return false;
}

std::vector<Stamped> StampedDialogs::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

void StampedDialogs::Clear() {
  std::lock_guard lock(mutex_);
  messages_.clear();
}

void StampedProgress::Add(std::string what) {
  const auto now = SteadyClock::now();
  std::lock_guard lock(mutex_);
  events_.push_back({now, std::move(what)});
}

void StampedProgress::StepProgress(int channel, int) {
  // The handshake pulses once per read: not worth a note each.
  if (channel != PROGRESS_SYNC) Add("step " + std::to_string(channel));
}

void StampedProgress::ShowComplete(int channel) {
  Add("complete " + std::to_string(channel));
}

void StampedProgress::ShowTook(int channel, int) {
  Add("took " + std::to_string(channel));
}

void StampedProgress::ShowDelayWarning(double seconds) {
  // 0.0 is the clearing call that opens every SendImage.
  Add(seconds == 0.0 ? "clear" : "delay");
}

std::vector<Stamped> StampedProgress::Events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::optional<SteadyClock::time_point> StampedProgress::Find(const std::string& what,
                                                             SteadyClock::time_point from) const {
  std::lock_guard lock(mutex_);
  for (const Stamped& event : events_) {
    if (event.what == what && event.at >= from) return event.at;
  }
  return std::nullopt;
}

void StampedProgress::Clear() {
  std::lock_guard lock(mutex_);
  events_.clear();
}

EngineRig::EngineRig() : app_(profile_, dialogs_) {
  app_.SetProgressView(&progress_);
  app_.SetAllSignals(0);  // "TX and RX Only": a pseudo-terminal has no modem lines
}

std::shared_ptr<CDownloadThread> EngineRig::Connect(const std::string& device,
                                                    const std::string& speed) {
  app_.SetSpeed(speed.c_str());
  auto thread = std::make_shared<CDownloadThread>(app_);
  OpenFailure why;
  thread->m_hPort = OpenCommPort(device.c_str(), &why);
  if (thread->m_hPort == nullptr) {
    Note("cannot open " + device + ": " + DescribeOpenFailure(why, device));
    return nullptr;
  }
  const SyncPlan& plan = speed == "19200" ? g_syncPlan19200 : g_syncPlan115200;
  if (thread->Synchronise(thread->m_hPort, plan) != RESULT_SUCCESS) {
    Note("the handshake with the simulator failed");
    return nullptr;
  }
  return thread;
}

bool EngineRig::UseImageSet(const SampleSet& set, const std::string& device,
                            const std::string& speed) {
  app_.SetLoaderOverride(set.loader.c_str());
  if (app_.SetAgentPath(set.agent.c_str()) == 0) {
    Note("the sample set was refused: " +
         (dialogs_.Messages().empty() ? std::string("?") : dialogs_.Messages().back().what));
    return false;
  }
  app_.SetPortName(device.c_str());
  app_.SetSpeed(speed.c_str());
  return true;
}

}  // namespace portflash::bench
