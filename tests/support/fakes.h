#pragma once
// Test doubles for the core's ports: a fake clock, a scripted serial device,
// a map profile, and recorders for message boxes and progress.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/profile.h"
#include "engine/clock.h"
#include "engine/dialogs.h"
#include "engine/progress_view.h"
#include "engine/serial_platform.h"

namespace portflash::testing {

// Time only moves when someone pauses or waits on it.
class FakeClock : public Clock {
 public:
  std::int64_t nowMs = 1'700'000'000'000;  // well past the epoch, on a second boundary
  std::vector<int> pauses;
  // Called at every Milliseconds() with the call's index (0-based); may move time.
  std::function<void(FakeClock&, int)> onMilliseconds;
  int millisecondCalls = 0;

  std::int64_t Seconds() override { return nowMs / 1000; }
  std::int64_t Milliseconds() override;
  void Pause(int milliseconds) override;
  void Advance(std::int64_t milliseconds) { nowMs += milliseconds; }
};

// A serial device whose other end is a script. Every byte that the PC writes is
// passed to onByte (the unit), which may queue replies with Reply().
class FakeSerialPlatform : public SerialPlatform {
 public:
  explicit FakeSerialPlatform(FakeClock& clock);

  // The unit's side.
  std::function<void(FakeSerialPlatform&, std::uint8_t)> onByte;
  // Called at every ReadByte before it looks for a byte (may queue one).
  std::function<void(FakeSerialPlatform&)> onRead;
  // Queue a byte that becomes readable afterMs from now.
  void Reply(std::uint8_t byte, std::int64_t afterMs = 0);
  void HangUp() { hungUp = true; }

  // Knobs.
  bool failConfigure = false;
  bool failWrite = false;    // every Write fails with Error
  bool stallWrites = false;  // every Write takes nothing
  int dsrOffPolls = 0;       // DSR reads off this many times more, then as modemLines says
  bool hasModemLines = false;
  bool hungUp = false;                // writes fail with HangUp, reads report HangUp
  std::size_t writeLimit = 0;         // if non-zero, at most this many bytes per Write call
  double lineBytesPerMs = 0;          // how fast the driver's queue empties (0: at once)
  SavedLineSettings initialSettings;  // what the device holds before the first open

  // What happened.
  // "open PATH", "close", "configure RATE", "read", "wait N", "write N", ...
  std::vector<std::string> calls;
  std::vector<std::uint8_t> written;
  std::vector<std::size_t> queuedAtWrite;  // the driver's queue as each Write found it
  std::vector<LineConfig> configs;
  SavedLineSettings current;  // what the device holds now
  unsigned modemLines = 0;    // DTR/RTS as last set
  int readAttempts = 0;
  bool isOpen = false;

  // The line config in force (the last Configure since the open).
  const LineConfig* Config() const { return configs.empty() ? nullptr : &configs.back(); }

  SerialHandle Open(const std::string& devicePath, OpenFailure* why) override;
  void Close(SerialHandle) override {
    calls.push_back("close");
    isOpen = false;
  }
  bool GetSettings(SerialHandle, SavedLineSettings* out) override {
    *out = current;
    return true;
  }
  bool SetSettings(SerialHandle, const SavedLineSettings& settings) override {
    current = settings;
    return true;
  }
  bool Configure(SerialHandle fd, const SavedLineSettings& base, const LineConfig& config) override;
  bool GetModemLines(SerialHandle fd, unsigned* bits) override;
  bool SetModemLines(SerialHandle fd, unsigned on, unsigned off) override;
  IoStatus ReadByte(SerialHandle fd, std::uint8_t* byte) override;
  IoStatus Write(SerialHandle fd, const std::uint8_t* data, std::size_t length,
                 std::size_t* written) override;
  bool WaitReadable(SerialHandle fd, int timeoutMs) override;
  bool WaitWritable(SerialHandle, int) override { return !hungUp; }
  void Drain(SerialHandle) override {
    calls.push_back("drain");
    queued_ = 0;
  }
  bool OutputQueued(SerialHandle fd, std::size_t* bytes) override;
  void DiscardOutput(SerialHandle) override {
    calls.push_back("discard output");
    queued_ = 0;
  }
  void DiscardInput(SerialHandle fd) override;

 private:
  FakeClock& clock_;
  struct Pending {
    std::int64_t atMs;
    std::uint8_t byte;
  };
  std::deque<Pending> incoming_;  // ordered by atMs
  void EmptyQueueByTime();
  double queued_ = 0;
  std::int64_t queuedAtMs_ = 0;
};

// Installs a fake clock and fake platform for the life of the object.
class FakeWorld {
 public:
  FakeWorld() {
    SetClock(&clock);
    SetSerialPlatform(&serial);
  }
  ~FakeWorld() {
    SetSerialPlatform(nullptr);
    SetClock(nullptr);
  }
  FakeClock clock;
  FakeSerialPlatform serial{clock};
};

// The line as the cable tables want it; LineConfig's defaults are the fixed fields.
LineConfig CableConfig(std::uint32_t rate, bool allSignals, bool parity = true);

// Entry names are compared without regard to case, as the profile does.
class MapProfile : public Profile {
 public:
  struct NoCase {
    bool operator()(const std::string& a, const std::string& b) const {
      const auto lower = [](unsigned char c) { return std::tolower(c); };
      return std::ranges::lexicographical_compare(a, b, {}, lower, lower);
    }
  };
  std::map<std::string, std::map<std::string, std::string, NoCase>> sections;
  std::string GetString(const std::string& section, const std::string& entry) override {
    const auto s = sections.find(section);
    if (s == sections.end()) return "";
    const auto e = s->second.find(entry);
    return e != s->second.end() ? e->second : "";
  }
  void WriteString(const std::string& section, const std::string& entry,
                   const std::string& value) override {
    sections[section][entry] = value;
  }
  void RemoveEntry(const std::string& section, const std::string& entry) override {
    if (const auto s = sections.find(section); s != sections.end()) s->second.erase(entry);
  }
};

// Message boxes and progress calls in order, safe to read and wait on while a
// download thread records them. Yes/No boxes are answered Yes.
class Recorder : public Dialogs, public ProgressView {
 public:
  std::vector<std::string> messages;  // every box ("?" prefix for Yes/No)
  std::vector<std::string> calls;     // "step 102 5", "estimate 102 42 17", "complete 103", ...
  // Called on the recording thread before a box returns (outside the lock).
  std::function<void(const std::string&)> onMessage;

  void ShowMessage(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  void StepProgress(int channel, int delta) override;
  void ShowEstimate(int channel, int percent, unsigned secondsLeft) override;
  void ShowComplete(int channel) override;
  void ShowTook(int channel, int seconds) override;
  void ShowDelayWarning(double seconds) override;
  void ShowLineNote(const std::string& text) override;  // "note TEXT"
  std::function<void(const std::string&)> onCall;       // after each progress call is recorded

  std::vector<std::string> Messages() const;
  // True once a box or a call starts with prefix.
  bool Has(const std::string& prefix) const { return WaitFor(prefix, {}); }
  bool WaitFor(const std::string& prefix, std::chrono::milliseconds limit) const;
  void Clear();

 private:
  void Record(std::vector<std::string>& list, std::string text);
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
};

}  // namespace portflash::testing
