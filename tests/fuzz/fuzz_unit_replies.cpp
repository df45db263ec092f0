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

#include "engine/download_thread.h"
#include "engine/result_messages.h"
#include "fuzz_support.h"
#include "res/string_table.h"
#include "support/fake_unit.h"

using namespace portflash;

namespace {

constexpr std::size_t kLoaderSize = 1500;
constexpr std::size_t kAgentSize = 2300;
constexpr std::uint8_t kHangUp = 0xFF;

struct Reply {
  std::uint8_t byte;
  std::uint8_t delay;
};

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzWorld& world = fuzz::World();
  static const std::vector<std::uint8_t> loader = testing::ImageBytes(kLoaderSize, 1);
  static const std::vector<std::uint8_t> agent = testing::ImageBytes(kAgentSize, 2);
  static const bool ready = [&] {
    fuzz::WriteFile(world.dir + "unit.ldr", loader.data(), loader.size());
    fuzz::WriteFile(world.dir + "unit-agent.bin", agent.data(), agent.size());
    // The later handshake steps print a dot per miss.
    std::fflush(stdout);
    return std::freopen("/dev/null", "w", stdout) != nullptr;
  }();
  (void)ready;
  if (size == 0) return 0;

  std::multimap<std::uint32_t, Reply> script;
  for (std::size_t i = 1; i + 4 <= size; i += 4) {
    const auto at = static_cast<std::uint32_t>(data[i] | (data[i + 1] << 8));
    script.emplace(at, Reply{data[i + 2], data[i + 3]});
  }

  testing::FakeWorld fake;
  SavedLineSettings before;
  before.size = 8;
  for (std::size_t i = 0; i < before.size; ++i) before.bytes[i] = static_cast<unsigned char>(i + 1);
  fake.serial.current = before;
  fake.serial.hasModemLines = (data[0] & 4) != 0;
  fake.serial.modemLines = kModemDsr;
  testing::RecordingDialogs dialogs;
  CUpdateApp app(world.profile, dialogs);
  app.SetPortName("COM1");
  app.SetSpeed((data[0] & 1) != 0 ? "19200" : "115200");
  app.SetAllSignals((data[0] & 2) != 0 ? 0 : 1);
  app.SetAgentPath((world.dir + "unit-agent.bin").c_str());
  app.SetLoaderPath((world.dir + "unit.ldr").c_str());
  LoadDefaultResultMessages(app);
  dialogs.messages.clear();

  std::set<std::uint8_t> unitSent;
  std::uint32_t count = 0;
  fake.serial.onByte = [&](testing::FakeSerialPlatform& serial, std::uint8_t) {
    ++count;
    const auto [first, last] = script.equal_range(count);
    for (auto it = first; it != last; ++it) {
      if (it->second.delay == kHangUp) {
        serial.HangUp();
        continue;
      }
      serial.Reply(it->second.byte, it->second.delay * 10);
      unitSent.insert(it->second.byte);
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
