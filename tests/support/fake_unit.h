#pragma once
// A unit's boot monitor on the far side of a FakeSerialPlatform: answers the
// two-stage handshake, takes the loader and the agent, answers each with a
// result code. Each knob makes it misbehave in one way.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/update_app.h"
#include "engine/download_thread.h"
#include "platform/system.h"
#include "support/fakes.h"
#include "support/harness.h"

namespace portflash::testing {

// The device that "COMn" opens when the profile does not map it.
inline std::string ComDevice(unsigned n) {
#ifdef _WIN32
  return "\\\\.\\COM" + std::to_string(n);
#else
  return "/dev/ttyS" + std::to_string(n - 1);
#endif
}

class FakeUnit {
 public:
  enum class Phase { Sync, Loader, Agent, Done };

  // Installs itself as world.serial.onByte. loaderBytes is what the PC is meant
  // to send of the loader (its size less the skip), agentBytes the agent's size.
  FakeUnit(FakeWorld& world, std::size_t loaderBytes, std::size_t agentBytes);
  ~FakeUnit();  // unplugs itself
  FakeUnit(const FakeUnit&) = delete;
  FakeUnit& operator=(const FakeUnit&) = delete;

  // Handshake: the dialogue that it expects in each stage (first byte, then the
  // later steps), and the send of the first byte from which it answers (0: never).
  std::vector<std::uint8_t> dialogue{0x01, 0x05, 0x0F, 0x00};
  int answerFirstOnSend = 1;
  int answeringStages = 2;  // stages that it answers; 1: silent at the plan's rate

  // Images: line time per byte, a byte sent unasked after so many loader bytes,
  // the result codes (nullopt: silent), the agent's after a delay.
  double msPerByte = 0.0;
  std::optional<std::pair<std::size_t, std::uint8_t>> loaderInterrupt;
  std::optional<std::uint8_t> loaderResult = 0x00;
  std::optional<std::uint8_t> probeByte;  // sent unasked right after the loader's result
  std::optional<std::uint8_t> agentResult = 0x16;
  std::int64_t agentResultDelayMs = 0;
  std::optional<std::size_t> hangUpAfterImageBytes;  // loader and agent bytes together

  // What it saw.
  Phase phase = Phase::Sync;
  std::vector<std::uint32_t> stageRates;  // line rate when each stage passed
  std::vector<std::uint8_t> loader;       // loader bytes received
  std::vector<std::uint8_t> agent;        // agent bytes received
  std::uint32_t loaderRate = 0;           // line rate when the loader began
  bool agentEnded = false;                // end byte after the agent seen

 private:
  void OnSyncByte(std::uint8_t byte);
  void OnImageByte(std::uint8_t byte);
  std::uint32_t LineRate() const;

  FakeWorld& world_;
  std::size_t loaderBytes_;
  std::size_t agentBytes_;
  int stage_ = 0;           // handshake stage in progress (0, 1)
  int firstByteSends_ = 0;  // sends of the first byte in the current stage
  std::size_t step_ = 0;
  std::size_t imageBytes_ = 0;
  double lineDebtMs_ = 0.0;
};

// Holds the download thread at a chosen point (inside a fake's hook) until the
// test thread has done what it wanted, in real time.
struct ThreadGate {
  std::atomic<bool> arrived{false};
  // Download thread: say it has arrived, then wait until released() or the limit.
  void Hold(const std::function<bool()>& released,
            std::chrono::milliseconds limit = std::chrono::seconds(5));
  // Test thread: wait until the download thread has arrived.
  bool WaitArrived() const;
};

// Everything a download needs, on fakes: the application with recorded message
// boxes and progress, port "COM1" at 115200, and a scratch directory for images.
struct EngineRig {
  EngineRig();
  ~EngineRig();
  EngineRig(const EngineRig&) = delete;
  EngineRig& operator=(const EngineRig&) = delete;

  // Writes a file into the scratch directory (making the folders on its way) and
  // returns its path.
  std::string WriteFile(const std::string& name, const std::string& text) const {
    testing::WriteFile(Path(name), text);
    return Path(name);
  }
  std::string WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    return WriteFile(name, std::string(bytes.begin(), bytes.end()));
  }
  // As the program shows it (with "\\" on Windows).
  std::string Path(const std::string& name) const { return system::NativePath(dir + "/" + name); }

  FakeWorld world;
  MapProfile profile;
  RecordingDialogs dialogs;
  RecordingProgress progress;
  CUpdateApp app{profile, dialogs};
  TempDir temp;
  std::string dir = temp.Path();
};

// An EngineRig whose download thread has its port open on the fake, as RunDownload
// leaves it before the handshake, and a place for the unit.
struct OpenPortRig : EngineRig {
  OpenPortRig() { thread.m_hPort = OpenCommPort("COM1"); }
  std::optional<FakeUnit> unit;
  CDownloadThread thread{app};
};

// How often `what` occurs in a fake's or a recorder's calls.
int CountCalls(const std::vector<std::string>& calls, const std::string& what);
// The length of the application's result-message list.
int CountResultMessages(const CUpdateApp& app);

// An image body of n bytes that never holds the end byte 0xFF, so that a
// unit can tell the end byte from the data.
std::vector<std::uint8_t> ImageBytes(std::size_t n, std::uint8_t seed = 0);

}  // namespace portflash::testing
