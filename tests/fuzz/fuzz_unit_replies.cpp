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
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/update_app.h"
#include "engine/download_thread.h"
#include "engine/result_messages.h"
#include "res/string_table.h"
#include "support/fakes.h"
#include "support/harness.h"

using namespace portflash;

namespace {

constexpr std::size_t kLoaderSize = 1500;
constexpr std::size_t kAgentSize = 2300;
constexpr std::uint8_t kHangUp = 0xFF;

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

std::vector<std::uint8_t> Image(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + seed) % 251);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const testing::TempDir dir;
  static const std::vector<std::uint8_t> loader = Image(kLoaderSize, 1),
                                         agent = Image(kAgentSize, 2);
  static const bool ready = [] {
    // The later handshake steps print a dot per miss.
    std::fflush(stdout);
    return testing::WriteFile(dir / "unit.ldr", {loader.begin(), loader.end()}) &&
           testing::WriteFile(dir / "unit-agent.bin", {agent.begin(), agent.end()}) &&
           std::freopen("/dev/null", "w", stdout) != nullptr;
  }();
  Check(ready);
  if (size == 0) return 0;

  std::multimap<std::uint32_t, std::pair<std::uint8_t, std::uint8_t>> script;  // byte, delay
  for (std::size_t i = 1; i + 4 <= size; i += 4)
    script.emplace(data[i] | (data[i + 1] << 8), std::pair(data[i + 2], data[i + 3]));

  testing::FakeWorld fake;
  SavedLineSettings before;
  before.size = 8;
  before.bytes = {1, 2, 3, 4, 5, 6, 7, 8};
  fake.serial.current = before;
  fake.serial.hasModemLines = (data[0] & 4) != 0;
  fake.serial.modemLines = kModemDsr;
  testing::Recorder dialogs;
  testing::MapProfile profile;
  CUpdateApp app(profile, dialogs);
  app.SetPortName("COM1");
  app.SetSpeed((data[0] & 1) != 0 ? "19200" : "115200");
  app.SetAllSignals((data[0] & 2) != 0 ? 0 : 1);
  app.SetAgentPath((dir / "unit-agent.bin").c_str());
  app.SetLoaderPath((dir / "unit.ldr").c_str());
  LoadDefaultResultMessages(app);
  dialogs.messages.clear();

  std::set<std::uint8_t> unitSent;
  std::uint32_t count = 0;
  fake.serial.onByte = [&](testing::FakeSerialPlatform& serial, std::uint8_t) {
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

  std::optional<ResultCode> outcome;
  std::string shown;
  {
    CDownloadThread thread(app);
    thread.RunDownload();
    outcome = thread.GetOutcome();
    if (outcome) shown = thread.OutcomeText(*outcome);
  }
  // The port opened and nobody cancelled: there is an outcome, and it is shown once.
  Check(outcome.has_value());
  const ResultCode code = *outcome;
  // A reason line goes under the message only when the line was lost.
  Check(shown == ResultText(app, code) ||
        (code == RESULT_WRITE_FAILED &&
         shown == ResultText(app, code) + "\nThe serial device was disconnected"));
  Check(dialogs.messages == std::vector<std::string>{LoadStringResource(IDS_POWER_OFF), shown});
  Check(code == RESULT_SUCCESS || code == RESULT_RESULT_TIMEOUT || code == RESULT_WRITE_FAILED ||
        code == RESULT_SYNC_FAILED ||
        (code <= 0xFF && unitSent.count(static_cast<std::uint8_t>(code)) != 0));
  if (code == RESULT_SUCCESS) {
    // The line ends with the loader, its end byte, the agent and its end byte.
    const std::vector<std::uint8_t>& w = fake.serial.written;
    Check(unitSent.count(0x00) != 0 && unitSent.count(0x16) != 0);
    Check(w.size() >= kLoaderSize + kAgentSize + 2);
    const auto agentAt = w.end() - 1 - static_cast<std::ptrdiff_t>(kAgentSize);
    const auto loaderAt = agentAt - 1 - static_cast<std::ptrdiff_t>(kLoaderSize);
    Check(w.back() == 0xFF && *(agentAt - 1) == 0xFF);
    Check(std::equal(agent.begin(), agent.end(), agentAt));
    Check(std::equal(loader.begin(), loader.end(), loaderAt));
  }
  // The port is closed and has its settings back.
  Check(!fake.serial.isOpen);
  Check(fake.serial.current == before);
  return 0;
}
