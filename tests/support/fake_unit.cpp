#include "support/fake_unit.h"

#include <algorithm>
#include <thread>

#include "engine/result_messages.h"

namespace portflash::testing {
namespace {
constexpr std::uint8_t kSyncReply = 0x5A;
constexpr std::uint8_t kEndByte = 0xFF;
}  // namespace

FakeUnit::FakeUnit(FakeWorld& world, std::size_t loaderBytes, std::size_t agentBytes)
    : world_(world), loaderBytes_(loaderBytes), agentBytes_(agentBytes) {
  world_.serial.onByte = [this](FakeSerialPlatform&, std::uint8_t byte) {
    if (phase == Phase::Sync) {
      OnSyncByte(byte);
    } else if (phase != Phase::Done) {
      OnImageByte(byte);
    }
  };
}

FakeUnit::~FakeUnit() {
  world_.serial.onByte = nullptr;
}

std::uint32_t FakeUnit::LineRate() const {
  return world_.serial.Config() != nullptr ? world_.serial.Config()->baudRate : 0;
}

void FakeUnit::OnSyncByte(std::uint8_t byte) {
  if (dialogue.empty() || byte != dialogue[step_]) return;  // not understood: silence
  if (step_ == 0 && (answerFirstOnSend == 0 || ++firstByteSends_ < answerFirstOnSend)) return;
  if (stage_ >= answeringStages) return;
  world_.serial.Reply(kSyncReply);
  if (++step_ < dialogue.size()) return;
  stageRates.push_back(LineRate());
  step_ = 0;
  firstByteSends_ = 0;
  if (++stage_ == 2) phase = Phase::Loader;
}

void FakeUnit::OnImageByte(std::uint8_t byte) {
  const bool isLoader = phase == Phase::Loader;
  std::vector<std::uint8_t>& image = isLoader ? loader : agent;
  if (image.empty() && isLoader) loaderRate = LineRate();
  if (image.size() < (isLoader ? loaderBytes_ : agentBytes_)) {
    image.push_back(byte);
    ++imageBytes_;
    lineDebtMs_ += msPerByte;
    const auto whole = static_cast<std::int64_t>(lineDebtMs_);
    world_.clock.Advance(whole);
    lineDebtMs_ -= static_cast<double>(whole);
    if (isLoader && loaderInterrupt && image.size() == loaderInterrupt->first) {
      world_.serial.Reply(loaderInterrupt->second);
    }
    if (hangUpAfterImageBytes && imageBytes_ == *hangUpAfterImageBytes) world_.serial.HangUp();
  } else if (byte == kEndByte && isLoader) {
    if (loaderResult) world_.serial.Reply(*loaderResult);
    if (probeByte) world_.serial.Reply(*probeByte);
    phase = Phase::Agent;
  } else if (byte == kEndByte) {
    agentEnded = true;
    if (agentResult) world_.serial.Reply(*agentResult, agentResultDelayMs);
    phase = Phase::Done;
  }
}

void ThreadGate::Hold(const std::function<bool()>& released, std::chrono::milliseconds limit) {
  arrived = true;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!released() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool ThreadGate::WaitArrived() const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!arrived && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return arrived;
}

EngineRig::EngineRig() {
  app.SetProgressView(&progress);
  app.SetPortName("COM1");
  app.SetSpeed("115200");
}

EngineRig::~EngineRig() {
  app.SetProgressView(nullptr);
}

int CountCalls(const std::vector<std::string>& calls, const std::string& what) {
  return static_cast<int>(std::count(calls.begin(), calls.end(), what));
}

int CountResultMessages(const CUpdateApp& app) {
  int n = 0;
  for (const ResultMessage* node = app.GetResultMessages(); node != nullptr; node = node->next) ++n;
  return n;
}

std::vector<std::uint8_t> ImageBytes(std::size_t n, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
  return bytes;
}

}  // namespace portflash::testing
