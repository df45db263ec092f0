#include "support/fakes.h"

#include <cstdio>
#include <cstring>

namespace portflash::testing {

std::int64_t FakeClock::Milliseconds() {
  int index = millisecondCalls++;
  if (onMilliseconds) onMilliseconds(*this, index);
  return nowMs;
}

void FakeClock::Pause(int milliseconds) {
  pauses.push_back(milliseconds);
  nowMs += milliseconds;
}

FakeSerialPlatform::FakeSerialPlatform(FakeClock& clock) : clock_(clock) {
  initialSettings.size = 4;
  initialSettings.bytes = {0x11, 0x22, 0x33, 0x44};
  current = initialSettings;
}

void FakeSerialPlatform::Reply(std::uint8_t byte, std::int64_t afterMs) {
  const std::int64_t atMs = clock_.nowMs + afterMs;
  auto it = std::upper_bound(incoming_.begin(), incoming_.end(), atMs,
                             [](std::int64_t t, const Pending& p) { return t < p.atMs; });
  incoming_.insert(it, Pending{atMs, byte});
}

SerialHandle FakeSerialPlatform::Open(const std::string& devicePath, OpenFailure* why) {
  calls.push_back("open " + devicePath);
  if (isOpen) {
    if (why != nullptr) *why = {OpenError::Busy, 0, "fake"};
    return -1;
  }
  isOpen = true;
  configs.clear();
  return 42;
}

bool FakeSerialPlatform::Configure(SerialHandle, const SavedLineSettings& base,
                                   const LineConfig& config) {
  calls.push_back("configure " + std::to_string(config.baudRate));
  if (failConfigure) return false;
  configs.push_back(config);
  // The device now holds base with the configured fields on top: mark it changed.
  current = base;
  current.size = base.size + sizeof(std::uint32_t);
  std::memcpy(current.bytes.data() + base.size, &config.baudRate, sizeof(std::uint32_t));
  return true;
}

bool FakeSerialPlatform::GetModemLines(SerialHandle, unsigned* bits) {
  if (!hasModemLines || hungUp) return false;
  *bits = modemLines;
  if (dsrOffPolls > 0) {
    --dsrOffPolls;
    *bits &= ~kModemDsr;
  }
  return true;
}

bool FakeSerialPlatform::SetModemLines(SerialHandle, unsigned on, unsigned off) {
  if (!hasModemLines) return false;
  modemLines = (modemLines | on) & ~off;
  return true;
}

IoStatus FakeSerialPlatform::ReadByte(SerialHandle, std::uint8_t* byte) {
  calls.push_back("read");
  ++readAttempts;
  if (onRead) onRead(*this);
  if (!incoming_.empty() && incoming_.front().atMs <= clock_.nowMs) {
    *byte = incoming_.front().byte;
    incoming_.pop_front();
    return IoStatus::Ok;
  }
  return hungUp ? IoStatus::HangUp : IoStatus::WouldBlock;
}

IoStatus FakeSerialPlatform::Write(SerialHandle, const std::uint8_t* data, std::size_t length,
                                   std::size_t* writtenCount) {
  calls.push_back("write " + std::to_string(length));
  *writtenCount = 0;
  if (hungUp) return IoStatus::HangUp;
  if (failWrite) return IoStatus::Error;
  if (stallWrites) return IoStatus::WouldBlock;
  std::size_t n = writeLimit != 0 ? std::min(length, writeLimit) : length;
  EmptyQueueByTime();
  queuedAtWrite.push_back(static_cast<std::size_t>(queued_ + 0.5));
  queued_ += static_cast<double>(n);
  for (std::size_t i = 0; i < n; ++i) {
    written.push_back(data[i]);
    if (onByte) onByte(*this, data[i]);
  }
  *writtenCount = n;
  return IoStatus::Ok;
}

bool FakeSerialPlatform::WaitReadable(SerialHandle, int timeoutMs) {
  calls.push_back("wait " + std::to_string(timeoutMs));
  if (hungUp) return true;
  std::int64_t deadline = clock_.nowMs + timeoutMs;
  if (!incoming_.empty() && incoming_.front().atMs <= deadline) {
    clock_.nowMs = std::max(clock_.nowMs, incoming_.front().atMs);
    return true;
  }
  clock_.nowMs = deadline;
  return false;
}

void FakeSerialPlatform::EmptyQueueByTime() {
  const double gone = lineBytesPerMs <= 0
                          ? queued_
                          : static_cast<double>(clock_.nowMs - queuedAtMs_) * lineBytesPerMs;
  queued_ = std::max(0.0, queued_ - gone);
  queuedAtMs_ = clock_.nowMs;
}

bool FakeSerialPlatform::OutputQueued(SerialHandle, std::size_t* bytes) {
  if (hungUp) return false;
  EmptyQueueByTime();
  *bytes = static_cast<std::size_t>(queued_ + 0.5);
  return true;
}

void FakeSerialPlatform::DiscardInput(SerialHandle) {
  calls.push_back("discard input");
  std::erase_if(incoming_, [this](const Pending& p) { return p.atMs <= clock_.nowMs; });
}

LineConfig CableConfig(std::uint32_t rate, bool allSignals, bool parity) {
  LineConfig config;
  config.baudRate = rate;
  config.parity = parity ? Parity::Even : Parity::None;
  config.parityCheck = parity;
  config.outxDsrFlow = allSignals;
  config.dtrControl = allSignals ? DtrControl::Handshake : DtrControl::Disable;
  config.rtsControl = allSignals ? RtsControl::Toggle : RtsControl::Disable;
  return config;
}

namespace {
template <class... T>
std::string Join(const char* what, T... numbers) {
  return (std::string(what) + ... + (" " + std::to_string(numbers)));
}

}  // namespace

void Recorder::Record(std::vector<std::string>& list, std::string text) {
  {
    std::lock_guard lock(mutex_);
    list.push_back(text);
  }
  changed_.notify_all();
  if (&list == &calls && onCall) onCall(text);
}

void Recorder::ShowMessage(const std::string& text) {
  Record(messages, text);
  if (onMessage) onMessage(text);
}

bool Recorder::AskYesNo(const std::string& text) {
  Record(messages, "?" + text);
  if (onMessage) onMessage(text);
  return true;
}

void Recorder::StepProgress(int channel, int delta) {
  Record(calls, Join("step", channel, delta));
}
void Recorder::ShowEstimate(int channel, int percent, unsigned secondsLeft) {
  Record(calls, Join("estimate", channel, percent, secondsLeft));
}
void Recorder::ShowComplete(int channel) {
  Record(calls, Join("complete", channel));
}
void Recorder::ShowTook(int channel, int seconds) {
  Record(calls, Join("took", channel, seconds));
}
void Recorder::ShowDelayWarning(double seconds) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "warning %.1f", seconds);
  Record(calls, buffer);
}
void Recorder::ShowLineNote(const std::string& text) {
  Record(calls, "note " + text);
}

std::vector<std::string> Recorder::Messages() const {
  std::lock_guard lock(mutex_);
  return messages;
}

bool Recorder::WaitFor(const std::string& prefix, std::chrono::milliseconds limit) const {
  auto starts = [&](const std::string& text) { return text.starts_with(prefix); };
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] {
    return std::ranges::any_of(messages, starts) || std::ranges::any_of(calls, starts);
  });
}

void Recorder::Clear() {
  std::lock_guard lock(mutex_);
  messages.clear();
  calls.clear();
}

}  // namespace portflash::testing
