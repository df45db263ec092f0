#include "support/unit_rig.h"

#include <algorithm>

#include "engine/result_messages.h"

namespace portflash::testing {
SimUnit::SimUnit(FakeWorld& world, const Bytes& loader, const Bytes& agent)
    : world_(world),
      loader_(loader),
      monitor_(options, {!loader.empty(), "", loader}, {!agent.empty(), "", agent}, *this, log_,
               trace_) {
  world_.serial.onByte = [this](FakeSerialPlatform&, std::uint8_t byte) { OnByte(byte); };
}

SimUnit::~SimUnit() {
  world_.serial.onByte = nullptr;
}

sim::BootMonitor::Clock::time_point SimUnit::Now() const {
  return sim::BootMonitor::Clock::time_point(std::chrono::milliseconds(world_.clock.nowMs));
}

unsigned SimUnit::Rate() const {
  const LineConfig* config = world_.serial.Config();
  return config != nullptr ? config->baudRate : 0;
}

void SimUnit::SkipTo(sim::ImageKind image) {
  muted_ = true;
  for (int stage = 0; stage < 2; ++stage) {
    for (std::uint8_t byte : Bytes{0x01, 0x05, 0x0F, 0x00}) monitor_.OnByte(byte, 0, Now());
  }
  if (image == sim::ImageKind::Agent) {
    for (std::uint8_t byte : loader_) monitor_.OnByte(byte, 0, Now());
    monitor_.OnByte(0xFF, 0, Now());
    RunDue();
  }
  muted_ = false;
}

void SimUnit::OnByte(std::uint8_t byte) {
  // The line's time for the byte passes before the unit has it.
  lineDebtMs_ += msPerByte;
  const auto whole = static_cast<std::int64_t>(lineDebtMs_);
  world_.clock.Advance(whole);
  lineDebtMs_ -= static_cast<double>(whole);
  sendAtMs_ = world_.clock.nowMs;
  monitor_.OnByte(byte, Rate(), Now());
  RunDue();
  if (monitor_.HangUpRequested()) world_.serial.HangUp();
}

void SimUnit::RunDue() {
  while (const auto due = monitor_.NextDeadline()) {
    sendAtMs_ =
        std::chrono::duration_cast<std::chrono::milliseconds>(due->time_since_epoch()).count();
    monitor_.OnTime(*due);
  }
}

void SimUnit::Send(const std::vector<std::uint8_t>& bytes) {
  if (muted_) return;
  for (std::uint8_t byte : bytes) world_.serial.Reply(byte, sendAtMs_ - world_.clock.nowMs);
}

EngineRig::EngineRig() {
  app.SetProgressView(&progress);
  app.SetPortName("COM1");
  app.SetSpeed("115200");
}

int CountCalls(const std::vector<std::string>& calls, const std::string& what) {
  return static_cast<int>(std::count(calls.begin(), calls.end(), what));
}

int CountResultMessages(const CUpdateApp& app) {
  int n = 0;
  for (const ResultMessage* node = app.GetResultMessages(); node != nullptr; node = node->next) ++n;
  return n;
}

}  // namespace portflash::testing
