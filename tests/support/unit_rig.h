#pragma once
// The simulator's boot monitor on the far side of a FakeSerialPlatform, and the
// rigs that the engine's unit tests run a download on.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/update_app.h"
#include "engine/download_thread.h"
#include "platform/system.h"
#include "sim/boot_monitor.h"
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

// The unit that portflash-sim runs, on the fake line. The fake clock jumps to the
// next byte due, so what the unit has due later is worked out at once and queued
// for its time.
class SimUnit : sim::UnitLine {
 public:
  using Bytes = std::vector<std::uint8_t>;
  // Installs itself as world.serial.onByte. An image given is taken at its exact
  // length (the loader without its skip); an empty one ends at 0xFF and a silence.
  SimUnit(FakeWorld& world, const Bytes& loader = {}, const Bytes& agent = {});
  ~SimUnit() override;
  SimUnit(const SimUnit&) = delete;
  SimUnit& operator=(const SimUnit&) = delete;

  // Brings the unit to the start of the image, as a PC would, without the fake.
  void SkipTo(sim::ImageKind image);
  // The image's answer comes ms late, by default never: held back after a break
  // that this line cannot carry.
  void HoldAnswer(sim::ImageKind image, unsigned ms = 0xFFFF'FFFFu) {
    options.breakAnswer = {image, ms};
  }

  sim::SimOptions options;  // the simulator's command line
  double msPerByte = 0.0;   // the line's time per byte

 private:
  void OnByte(std::uint8_t byte);
  void RunDue();
  sim::BootMonitor::Clock::time_point Now() const;
  const std::string& Name() const override { return name_; }
  int ReadFd() const override { return -1; }
  long Read(std::uint8_t*, std::size_t) override { return 0; }
  std::size_t Pending() const override { return 0; }
  unsigned Rate() const override;
  void Send(const std::vector<std::uint8_t>& bytes) override;
  bool SendBreak() override { return false; }
  void Linger(int) override {}
  void Close() override { world_.serial.HangUp(); }

  FakeWorld& world_;
  Bytes loader_;
  sim::Logger log_{true};
  sim::ByteTrace trace_;
  sim::BootMonitor monitor_;
  std::string name_ = "fake";
  std::int64_t sendAtMs_ = 0;  // when the monitor's answers are due
  bool muted_ = false;
  double lineDebtMs_ = 0.0;
};

// Everything a download needs, on fakes: the application with recorded message
// boxes and progress, port "COM1" at 115200, and a scratch directory for images.
struct EngineRig {
  EngineRig();

  // Writes a file into the scratch directory (making the folders on its way) and
  // returns its path.
  std::string WriteFile(const std::string& name, const std::string& text) const {
    testing::WriteFile(Path(name), text);
    return Path(name);
  }
  std::string WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    testing::WriteFile(Path(name), bytes);
    return Path(name);
  }
  // As the program shows it (with "\\" on Windows).
  std::string Path(const std::string& name) const { return system::NativePath(dir + "/" + name); }

  FakeWorld world;
  MapProfile profile;
  Recorder dialogs;
  Recorder progress;
  CUpdateApp app{profile, dialogs};
  TempDir temp;
  std::string dir = temp.Path();
};

// An EngineRig whose download thread has its port open on the fake, as RunDownload
// leaves it before the handshake, and a place for the unit.
struct OpenPortRig : EngineRig {
  OpenPortRig() { thread.m_hPort = OpenCommPort("COM1"); }
  std::optional<SimUnit> unit;
  CDownloadThread thread{app};
};

// How often `what` occurs in a fake's or a recorder's calls.
int CountCalls(const std::vector<std::string>& calls, const std::string& what);
// The length of the application's result-message list.
int CountResultMessages(const CUpdateApp& app);

}  // namespace portflash::testing
