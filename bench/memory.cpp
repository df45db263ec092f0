// Memory: the peak resident memory of portflash-cli sending a 1 MiB and a 256 MiB
// agent to an unpaced simulator. The image is read chunk by chunk, so the size of
// the image must not show in the peak.
#include <string>

#include "support/bench.h"
#include "support/child_process.h"

namespace portflash::bench {
namespace {

constexpr std::uint64_t kSmall = 1 * kMiB;
constexpr std::uint64_t kLarge = 256 * kMiB;
constexpr long kGoalKiB = 1024;

// One download with portflash-cli; its usage, or nullopt with the reason noted.
std::optional<ChildUsage> Download(const SampleSet& set, const std::string& agent,
                                   const std::string& log) {
  // Exact lengths: an agent of random bytes holds many a 0xFF that silence could end.
  testing::SimProcess sim(kSim, {"--quiet", "--expect-agent", agent});
  if (!sim.Ready()) {
    Note("portflash-sim did not start");
    return std::nullopt;
  }
  MeasuredChild cli;
  MeasuredChild::Options options;
  options.argv = {kCli, "--port", sim.Device(), "--yes", "--loader", set.loader, agent};
  options.env = {{"XDG_CONFIG_HOME", set.profile}};
  options.stderrPath = log;
  if (!cli.Start(options)) {
    Note("portflash-cli did not start");
    return std::nullopt;
  }
  const ChildUsage usage = cli.Wait();
  const auto report = sim.Report();
  Note(FormatSize(FileSize(agent)) + " agent: exit " + std::to_string(usage.status) + ", " +
       FormatSeconds(usage.wallSeconds) + ", peak RSS " + std::to_string(usage.maxRssKiB) +
       " KiB, unit: " + (report.empty() ? std::string("no report") : report.back()));
  if (usage.status != 0 || report.empty() || report.back().rfind("ok ", 0) != 0) {
    Note("the download failed; portflash-cli said:\n" + testing::ReadFile(log));
    return std::nullopt;
  }
  return usage;
}

}  // namespace
}  // namespace portflash::bench

int main() {
  using namespace portflash::bench;
  const std::string smallName = "peak RSS of portflash-cli, 1 MiB agent";
  const std::string largeName = "peak RSS of portflash-cli, 256 MiB vs 1 MiB agent";
  const std::string goal = "within " + std::to_string(kGoalKiB) + " KiB";
  portflash::testing::TempDir dir;
  const auto set = MakeSampleSet(dir.Path(), 4 * kKiB, kSmall);
  // The large agent: the small one (its records, so that the products match) grown
  // to 256 MiB.
  const std::string large = dir / "images/kvr-agent-256m.bin";
  if (!set || !CopyFile(set->agent, large) ||
      !AppendRandomBytes(large, kLarge - FileSize(set->agent), 5)) {
    PrintFailedRow(largeName, goal, "no sample set");
    return 0;
  }
  const auto small = Download(*set, set->agent, dir / "cli-small.err");
  const auto big = Download(*set, large, dir / "cli-large.err");
  if (!small || !big) {
    PrintFailedRow(largeName, goal, "a download failed");
    return 0;
  }
  PrintRow(
      {smallName, std::to_string(small->maxRssKiB) + " KiB", "-", 1.0, "(reported)", std::nullopt});
  const long grown = big->maxRssKiB - small->maxRssKiB;
  PrintRow({largeName, std::to_string(big->maxRssKiB) + " KiB",
            std::to_string(small->maxRssKiB) + " KiB",
            static_cast<double>(big->maxRssKiB) / static_cast<double>(small->maxRssKiB), goal,
            grown <= kGoalKiB});
  return 0;
}
