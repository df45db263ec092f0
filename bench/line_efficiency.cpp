// Line efficiency: images streamed into a simulator that takes bytes no faster
// than the line's rate, timed against the line's limit and against cat copying
// the same bytes into the same simulator.
#include <string>
#include <vector>

#include "support/bench.h"
#include "support/child_process.h"
#include "support/engine_rig.h"
#include "support/raw_client.h"

namespace portflash::bench {
namespace {

constexpr double kLineGoal = 0.995;
constexpr double kCatGoal = 1.005;

struct Case {
  std::uint64_t size;
  std::string speed;
  unsigned rate;
};

std::string Name(const Case& c) {
  return "line: " + FormatSize(c.size) + " @ " + c.speed;
}

void Run(EngineRig& rig, const testing::TempDir& dir, const Case& c, std::uint32_t seed) {
  const std::string image = dir / ("image-" + std::to_string(c.size) + ".bin");
  const std::string name = Name(c);
  if (!WriteRandomFile(image, c.size, seed)) {
    PrintFailedRow(name, "-", "cannot write " + image);
    return;
  }
  // Sent as the loader: the simulator knows its length and answers 0x00 on the end byte.
  testing::SimProcess sim(kSim, {"--pace", "--quiet", "--expect-loader", image});
  if (!sim.Ready()) {
    PrintFailedRow(name, "-", "portflash-sim did not start: " + sim.Log());
    return;
  }
  // The end byte goes on the line after the image: it is part of the limit.
  const double limit = LineSeconds(c.size + 1, c.rate);

  double engine = 0;
  {
    auto thread = rig.Connect(sim.Device(), c.speed);
    if (!thread) {
      PrintFailedRow(name, ">= " + Fixed(kLineGoal, 3), "no handshake: " + sim.Log());
      return;
    }
    const auto start = SteadyClock::now();
    const ResultCode result = thread->SendImage(image.c_str(), 0);
    engine = SecondsSince(start);
    if (result != RESULT_SUCCESS) {
      PrintFailedRow(name, ">= " + Fixed(kLineGoal, 3),
                     "SendImage returned " + std::to_string(result) + "\n" + sim.Log());
      return;
    }
  }  // the port closes: the next client is a fresh power-on for the unit

  RawClient raw;
  RawClient::Copy copy;
  // cat is done once the pty holds the rest, up to some 12 KiB: seven seconds of
  // line at 19200 bps before the end byte is even taken.
  const int answerTimeoutMs = static_cast<int>(LineSeconds(16 * kKiB, c.rate) * 1000) + 5000;
  if (raw.Open(sim.Device()) && raw.Handshake(c.speed))
    copy = raw.CopyWith({"cat", image}, answerTimeoutMs);
  Note(name + ": engine " + FormatSeconds(engine) + ", limit " + FormatSeconds(limit) + ", cat " +
       (copy.ok ? FormatSeconds(copy.seconds) : std::string("failed")) +
       (copy.ok ? " (cat / limit " + Fixed(copy.seconds / limit, 4) + ")" : ""));

  PrintRow({name + " (engine vs line limit)", FormatSeconds(engine), FormatSeconds(limit),
            limit / engine, ">= " + Fixed(kLineGoal, 3), limit / engine >= kLineGoal});
  if (!copy.ok || copy.answer != 0x00) {
    PrintFailedRow(name + " (engine vs cat)", "<= " + Fixed(kCatGoal, 3),
                   "the raw copy failed (answer " + std::to_string(copy.answer) + ")");
    return;
  }
  PrintRow({name + " (engine vs cat)", FormatSeconds(engine), FormatSeconds(copy.seconds),
            engine / copy.seconds, "<= " + Fixed(kCatGoal, 3), engine / copy.seconds <= kCatGoal});
}

}  // namespace
}  // namespace portflash::bench

int main() {
  using namespace portflash::bench;
  EngineRig rig;
  portflash::testing::TempDir dir;
  const std::vector<Case> cases = {
      {64 * kKiB, "115200", 115200},
      {1 * kMiB, "115200", 115200},
      {64 * kKiB, "19200", 19200},
  };
  std::uint32_t seed = 1;
  for (const Case& c : cases) Run(rig, dir, c, seed++);
  return 0;
}
