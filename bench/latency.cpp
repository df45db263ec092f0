// Reply latency: how soon the engine acts on a byte from the unit. The simulator
// stamps every handshake byte it receives and every byte it sends (--trace) on
// the monotonic clock; the engine's dialogs and progress view stamp its outcome
// on the same clock.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/bench.h"
#include "support/child_process.h"
#include "support/engine_rig.h"

namespace portflash::bench {
namespace {

constexpr int kDownloads = 10;
constexpr double kGoalMs = 5.0;
// A loop that sleeps 100 ms blind between looks at the line, three looks a read
// as the serial link makes them, answers on average 150 ms late.
constexpr double kBlindSleepMs = 150.0;

struct TraceLine {
  SteadyClock::time_point at;
  bool out = false;
  unsigned byte = 0;
};

std::vector<TraceLine> ReadTrace(const std::string& path) {
  std::vector<TraceLine> lines;
  std::ifstream file(path);
  for (std::string text; std::getline(file, text);) {
    std::istringstream fields(text);
    long long ns = 0;
    std::string direction, byte;
    if (!(fields >> ns >> direction >> byte)) continue;
    lines.push_back({SteadyClock::time_point(std::chrono::nanoseconds(ns)), direction == "out",
                     static_cast<unsigned>(std::stoul(byte, nullptr, 16))});
  }
  return lines;
}

double Ms(SteadyClock::duration duration) {
  return ToSeconds(duration) * 1000.0;
}

void Report(const std::string& name, const std::vector<double>& samples) {
  if (samples.empty()) {
    PrintFailedRow(name, "median < " + Fixed(kGoalMs, 0) + " ms", "no samples");
    return;
  }
  const double median = Median(samples);
  Note(name + ": " + std::to_string(samples.size()) + " samples, median " + Fixed(median, 3) +
       " ms, p90 " + Fixed(Percentile(samples, 0.9), 3) + " ms, max " +
       Fixed(Percentile(samples, 1.0), 3) + " ms");
  PrintRow({name + " (median of " + std::to_string(samples.size()) + ")", Fixed(median, 3) + " ms",
            Fixed(kBlindSleepMs, 0) + " ms (blind 100 ms sleeps)", median / kBlindSleepMs,
            "median < " + Fixed(kGoalMs, 0) + " ms", median < kGoalMs});
}

}  // namespace
}  // namespace portflash::bench

int main() {
  using namespace portflash::bench;
  using portflash::CDownloadThread;
  const std::string handshakeName = "latency: unit's 0x5A -> next handshake byte";
  const std::string loaderName = "latency: loader's 0x00 -> engine has the result";
  const std::string agentName = "latency: agent's 0x16 -> outcome shown";
  portflash::testing::TempDir dir;
  const auto set = MakeSampleSet(dir.Path(), 2 * kKiB, 4 * kKiB);
  EngineRig rig;
  if (!set) {
    PrintFailedRow(handshakeName, "median < 5 ms", "no sample set");
    return 0;
  }
  // Resolve once to learn the loader's skip, which the simulator must be told.
  if (!rig.UseImageSet(*set, "/dev/null", "115200")) {
    PrintFailedRow(handshakeName, "median < 5 ms", "the sample set was refused");
    return 0;
  }
  const std::string trace = dir / "trace";
  portflash::testing::SimProcess sim(
      kSim, {"--quiet", "--trace", trace, "--expect-loader", set->loader, "--loader-skip",
             std::to_string(rig.App().GetLoaderSkip()), "--expect-agent", set->agent});
  if (!sim.Ready() || !rig.UseImageSet(*set, sim.Device(), "115200")) {
    PrintFailedRow(handshakeName, "median < 5 ms", "portflash-sim did not start");
    return 0;
  }

  int succeeded = 0;
  for (int i = 0; i < kDownloads; ++i) {
    auto thread = std::make_shared<CDownloadThread>(rig.App());
    thread->RunDownload();
    if (thread->GetOutcome() == portflash::RESULT_SUCCESS) ++succeeded;
  }
  Note(std::to_string(succeeded) + " of " + std::to_string(kDownloads) + " downloads succeeded");

  // The unit writes a trace line after the byte it stands for: let it finish.
  sim.Stop();
  const std::vector<TraceLine> lines = ReadTrace(trace);
  const auto messages = rig.Dialogs().Messages();
  std::vector<double> handshake, loader, agent;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].out) continue;
    const auto sent = lines[i].at;
    if (lines[i].byte == 0x5A) {
      // The PC's next byte, unless the unit's answer ended the handshake.
      if (i + 1 < lines.size() && !lines[i + 1].out)
        handshake.push_back(Ms(lines[i + 1].at - sent));
    } else if (lines[i].byte == 0x00) {
      if (auto took = rig.Progress().Find("took 102", sent)) loader.push_back(Ms(*took - sent));
    } else if (lines[i].byte == 0x16) {
      for (const Stamped& message : messages) {
        if (message.at >= sent) {
          agent.push_back(Ms(message.at - sent));
          break;
        }
      }
    }
  }
  Report(handshakeName, handshake);
  Report(loaderName, loader);
  Report(agentName, agent);
  if (succeeded != kDownloads) Note("the failed downloads' samples are included as measured");
  return 0;
}
