// Cost while waiting: portflash-cli sends its images to a unit that then never
// answers the agent, and the CPU time of the whole process is taken over 60 s of
// its result wait (of 180 s). The unit is made to stay silent by telling the
// simulator to expect a longer agent than is sent: it takes the end byte for more
// image and keeps waiting itself.
#include <signal.h>

#include <string>
#include <thread>

#include "support/bench.h"
#include "support/child_process.h"

namespace portflash::bench {
namespace {

constexpr auto kWindow = std::chrono::seconds(60);
// After the loader's answer: the five-read listen (1.5 s) and the small agent.
constexpr auto kSettle = std::chrono::seconds(3);
constexpr double kGoal = 0.005;

}  // namespace
}  // namespace portflash::bench

int main() {
  using namespace portflash::bench;
  const std::string name = "CPU during a 60 s silent result wait (portflash-cli)";
  const std::string goal = "< " + Fixed(kGoal, 3) + " (0.5 % of a core)";
  portflash::testing::TempDir dir;
  const auto set = MakeSampleSet(dir.Path(), 4 * kKiB, 4 * kKiB);
  const std::string longer = dir / "agent-longer.bin";
  if (!set || !CopyFile(set->agent, longer) || !AppendRandomBytes(longer, 64, 3)) {
    PrintFailedRow(name, goal, "no sample set");
    return 0;
  }
  portflash::testing::SimProcess sim(kSim, {"--expect-agent", longer});
  if (!sim.Ready()) {
    PrintFailedRow(name, goal, "portflash-sim did not start");
    return 0;
  }
  MeasuredChild cli;
  MeasuredChild::Options options;
  options.argv = {kCli, "--port", sim.Device(), "--yes", "--loader", set->loader, set->agent};
  options.env = {{"XDG_CONFIG_HOME", set->profile}};
  options.stderrPath = dir / "cli.err";
  if (!cli.Start(options)) {
    PrintFailedRow(name, goal, "portflash-cli did not start");
    return 0;
  }
  if (!sim.WaitForOutput("answered the loader 0x00", std::chrono::seconds(30))) {
    PrintFailedRow(name, goal, "the loader was not answered\n" + sim.Log());
    return 0;
  }
  std::this_thread::sleep_for(kSettle);
  const auto cpuStart = ProcessCpuSeconds(cli.Pid());
  const auto start = SteadyClock::now();
  std::this_thread::sleep_for(kWindow);
  const auto cpuEnd = ProcessCpuSeconds(cli.Pid());
  const double wall = SecondsSince(start);
  const bool stillWaiting = cpuEnd.has_value() && sim.Report().empty();
  cli.Signal(SIGTERM);
  const ChildUsage usage = cli.Wait();
  if (!cpuStart || !stillWaiting) {
    PrintFailedRow(
        name, goal,
        "portflash-cli was not waiting all along (exit " + std::to_string(usage.status) + ")");
    return 0;
  }
  const double cpu = *cpuEnd - *cpuStart;
  Note(name + ": " + FormatSeconds(cpu) + " CPU in " + FormatSeconds(wall) + "; the whole run " +
       FormatSeconds(usage.cpuSeconds) + " CPU in " + FormatSeconds(usage.wallSeconds) + ", exit " +
       std::to_string(usage.status) + " after SIGTERM");
  PrintRow({name, Fixed(cpu / wall * 100, 3) + " % of a core (" + FormatSeconds(cpu) + " CPU)",
            FormatSeconds(wall) + " wall", cpu / wall, goal, cpu / wall < kGoal});
  return 0;
}
