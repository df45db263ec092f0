// Session time: a whole download, from the power-off prompt's OK to the outcome,
// of a 64 KiB loader and a 1 MiB agent at 115200 bps into a paced simulator that
// answers at once, against what the line and the protocol's own fixed wait cost.
#include <string>

#include "support/bench.h"
#include "support/child_process.h"
#include "support/engine_rig.h"

namespace portflash::bench {
namespace {

constexpr double kGoal = 1.01;
// The five-read listen between the images: a read on a silent line is three
// 100 ms pauses.
constexpr double kProbeSeconds = 5 * 0.3;
constexpr unsigned kRate = 115200;
constexpr unsigned kFirstStageRate = 9600;
constexpr std::uint64_t kHandshakeBytes = 4;  // the PC's bytes of one stage

}  // namespace
}  // namespace portflash::bench

int main() {
  using namespace portflash::bench;
  using portflash::CDownloadThread;
  const std::string name = "session: 64 KiB loader + 1 MiB agent @ 115200";
  const std::string goal = "<= " + Fixed(kGoal, 2);
  portflash::testing::TempDir dir;
  const auto set = MakeSampleSet(dir.Path(), 64 * kKiB, 1 * kMiB);
  EngineRig rig;
  if (!set || !rig.UseImageSet(*set, "/dev/null", "115200")) {
    PrintFailedRow(name, goal, "no sample set");
    return 0;
  }
  const std::uint32_t skip = rig.App().GetLoaderSkip();
  portflash::testing::SimProcess sim(
      kSim, {"--pace", "--quiet", "--expect-loader", set->loader, "--loader-skip",
             std::to_string(skip), "--expect-agent", set->agent});
  if (!sim.Ready() || !rig.UseImageSet(*set, sim.Device(), "115200")) {
    PrintFailedRow(name, goal, "portflash-sim did not start");
    return 0;
  }
  rig.Dialogs().Clear();
  rig.Progress().Clear();

  auto thread = std::make_shared<CDownloadThread>(rig.App());
  thread->RunDownload();
  const auto outcome = thread->GetOutcome();
  const auto messages = rig.Dialogs().Messages();
  if (outcome != portflash::RESULT_SUCCESS || messages.size() != 2) {
    PrintFailedRow(name, goal,
                   "the download failed: " + (messages.empty() ? "" : messages.back().what) + "\n" +
                       sim.Log());
    return 0;
  }
  // From the OK on the power-off prompt to the outcome's box.
  const double total = ToSeconds(messages[1].at - messages[0].at);

  const std::uint64_t loaderBytes = FileSize(set->loader) - skip;
  const std::uint64_t agentBytes = FileSize(set->agent);
  const double line = LineSeconds(kHandshakeBytes, kFirstStageRate) +
                      LineSeconds(kHandshakeBytes, kRate) +
                      LineSeconds(loaderBytes + 1 + agentBytes + 1, kRate);
  const double reference = line + kProbeSeconds;

  // Where the time went, for the log.
  const auto& progress = rig.Progress();
  const auto start = messages[0].at;
  const auto loaderStart = progress.Find("clear", start);
  const auto loaderTook = progress.Find("took 102", start);
  const auto agentStart = loaderTook ? progress.Find("clear", *loaderTook) : std::nullopt;
  const auto agentTook = agentStart ? progress.Find("took 103", *agentStart) : std::nullopt;
  if (loaderStart && loaderTook && agentStart && agentTook) {
    Note(name + ": handshake " + FormatSeconds(ToSeconds(*loaderStart - start)) + " (line " +
         FormatSeconds(LineSeconds(kHandshakeBytes, kFirstStageRate) +
                       LineSeconds(kHandshakeBytes, kRate)) +
         "), loader " + FormatSeconds(ToSeconds(*loaderTook - *loaderStart)) + " (line " +
         FormatSeconds(LineSeconds(loaderBytes + 1, kRate)) + "), listen " +
         FormatSeconds(ToSeconds(*agentStart - *loaderTook)) + " (" + FormatSeconds(kProbeSeconds) +
         "), agent " + FormatSeconds(ToSeconds(*agentTook - *agentStart)) + " (line " +
         FormatSeconds(LineSeconds(agentBytes + 1, kRate)) + ")");
  }
  PrintRow({name, FormatSeconds(total), FormatSeconds(reference) + " (line + listen)",
            total / reference, goal, total / reference <= kGoal});
  return 0;
}
