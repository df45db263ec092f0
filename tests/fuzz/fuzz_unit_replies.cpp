// A whole download against a unit that answers whatever the input says, on the
// fake line and clock. Whatever the unit does, the download must end, with one
// outcome that the unit's bytes or the line explain, shown once, and the port put
// back; success only when both images went out whole and the unit answered them.
//
// Input: one byte of settings (bit 0: speed 19200, bit 1: "TX and RX Only", bit 2: a
// device with modem lines, DSR on), then
// records of four bytes: after the PC's Nth byte on the line (N little-endian in
// the first two), the unit sends the third byte after (fourth × 10) ms; a fourth
// byte of 0xFF hangs the line up at that point instead.
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/download_thread.h"
#include "engine/result_messages.h"
#include "support/unit_rig.h"

using namespace portflash;

namespace {

constexpr std::uint8_t kHangUp = 0xFF;

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<std::uint8_t> loader = testing::ImageBytes(1500, 1),
                                         agent = testing::ImageBytes(2300, 2);
  // What a successful download leaves at the end of the line: each image and its end byte.
  static const std::string sent = std::string(loader.begin(), loader.end()) + '\xFF' +
                                  std::string(agent.begin(), agent.end()) + '\xFF';
  // The later handshake steps print a dot per miss.
  static const bool quiet = std::fflush(stdout) == 0 && std::freopen("/dev/null", "w", stdout);
  Check(quiet);
  if (size == 0) return 0;

  std::multimap<std::uint32_t, std::pair<std::uint8_t, std::uint8_t>> script;  // byte, delay
  for (std::size_t i = 1; i + 4 <= size; i += 4)
    script.emplace(data[i] | (data[i + 1] << 8), std::pair(data[i + 2], data[i + 3]));

  testing::EngineRig rig;
  testing::FakeSerialPlatform& line = rig.world.serial;
  line.current.size = 8;  // the device's own settings, to be put back
  const SavedLineSettings before = line.current;
  line.hasModemLines = (data[0] & 4) != 0;
  line.modemLines = kModemDsr;
  CUpdateApp& app = rig.app;
  app.SetSpeed((data[0] & 1) != 0 ? "19200" : "115200");
  app.SetAllSignals((data[0] & 2) != 0 ? 0 : 1);
  app.SetAgentPath(rig.WriteFile("unit-agent.bin", agent).c_str());
  app.SetLoaderPath(rig.WriteFile("unit.ldr", loader).c_str());
  LoadDefaultResultMessages(app);
  rig.dialogs.messages.clear();

  std::set<std::uint8_t> unitSent;
  std::uint32_t count = 0;
  line.onByte = [&](testing::FakeSerialPlatform& serial, std::uint8_t) {
    for (auto [it, end] = script.equal_range(++count); it != end; ++it) {
      const auto [byte, delay] = it->second;
      if (delay == kHangUp) {
        serial.HangUp();
      } else {
        serial.Reply(byte, delay * 10);
        unitSent.insert(byte);
      }
    }
  };

  CDownloadThread thread(app);
  thread.RunDownload();
  // The port opened and nobody cancelled: there is an outcome, and it is shown once.
  Check(thread.GetOutcome().has_value());
  const ResultCode code = *thread.GetOutcome();
  const std::string shown = thread.OutcomeText(code);
  // A reason line goes under the message only when the line was lost.
  const char* reason = code == RESULT_WRITE_FAILED ? "\nThe serial device was disconnected" : "";
  Check(shown == ResultText(app, code) || shown == ResultText(app, code) + reason);
  Check(rig.dialogs.messages == std::vector<std::string>{testing::kPowerOff, shown});
  Check(code == RESULT_SUCCESS || code == RESULT_RESULT_TIMEOUT || code == RESULT_WRITE_FAILED ||
        code == RESULT_SYNC_FAILED ||
        (code <= 0xFF && unitSent.count(static_cast<std::uint8_t>(code)) != 0));
  if (code == RESULT_SUCCESS) {
    Check(unitSent.count(0x00) != 0 && unitSent.count(0x16) != 0);
    Check(std::string(line.written.begin(), line.written.end()).ends_with(sent));
  }
  Check(!line.isOpen && line.current == before);
  return 0;
}
