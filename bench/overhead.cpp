// Overhead unpaced: with no pacing the line is as fast as the pseudo-terminal and
// the simulator reading it; what is left to compare is the sender's own cost. The
// engine's thread against cat, each sending the same file into the same simulator;
// and against dd writing the same 1000-byte blocks as the engine's chunks, which
// shows what the chunk size alone costs on a pseudo-terminal.
#include <string>
#include <vector>

#include "support/bench.h"
#include "support/child_process.h"
#include "support/engine_rig.h"
#include "support/raw_client.h"

namespace portflash::bench {
namespace {

constexpr std::uint64_t kImageSize = 32 * kMiB;
constexpr int kRounds = 7;
constexpr double kCpuGoal = 2.0;

struct Sample {
  double seconds = 0;
  double cpuSeconds = 0;
  long contextSwitches = 0;
};

struct Series {
  std::vector<double> mibPerSecond;
  std::vector<double> cpuMsPerMiB;
  void Add(const Sample& sample) {
    const double mib = static_cast<double>(kImageSize) / static_cast<double>(kMiB);
    mibPerSecond.push_back(mib / sample.seconds);
    cpuMsPerMiB.push_back(sample.cpuSeconds * 1000.0 / mib);
  }
};

bool EngineRound(EngineRig& rig, const testing::SimProcess& sim, const std::string& image,
                 Sample* sample) {
  auto thread = rig.Connect(sim.Device(), "115200");
  if (!thread) return false;
  const double cpuStart = ThreadCpuSeconds();
  const long switchesStart = ThreadContextSwitches();
  const auto start = SteadyClock::now();
  const ResultCode result = thread->SendImage(image.c_str(), 0);
  sample->seconds = SecondsSince(start);
  sample->cpuSeconds = ThreadCpuSeconds() - cpuStart;
  sample->contextSwitches = ThreadContextSwitches() - switchesStart;
  return result == RESULT_SUCCESS;
}

// argv empty: the protocol's floor (RawClient::WriteChunks) instead of a program.
bool ProgramRound(const testing::SimProcess& sim, const std::vector<std::string>& argv,
                  const std::string& image, Sample* sample) {
  RawClient raw;
  if (!raw.Open(sim.Device()) || !raw.Handshake("115200")) return false;
  const RawClient::Copy copy =
      argv.empty() ? raw.WriteChunks(image, kChunkSize, 10000) : raw.CopyWith(argv, 10000);
  sample->seconds = copy.seconds;
  sample->cpuSeconds = copy.program.cpuSeconds;
  sample->contextSwitches = copy.program.contextSwitches;
  return copy.ok && copy.answer == 0x00;
}

}  // namespace
}  // namespace portflash::bench

int main() {
  using namespace portflash::bench;
  const std::string rounds = ", median of " + std::to_string(kRounds);
  const std::string cpuName = "unpaced CPU per MiB (engine vs cat)";
  EngineRig rig;
  portflash::testing::TempDir dir;
  const std::string image = dir / "image.bin";
  if (!WriteRandomFile(image, kImageSize, 11)) {
    PrintFailedRow(cpuName, "<= 2.0", "cannot write " + image);
    return 0;
  }
  portflash::testing::SimProcess sim(kSim, {"--quiet", "--expect-loader", image});
  if (!sim.Ready()) {
    PrintFailedRow(cpuName, "<= 2.0", "portflash-sim did not start");
    return 0;
  }
  struct Reference {
    std::string name;
    std::vector<std::string> argv;
    Series series;
  };
  std::vector<Reference> references = {
      {"cat", {"cat", image}, {}},
      {"dd bs=1000", {"dd", "if=" + image, "bs=1000", "status=none"}, {}},
      {"the protocol's floor: 1000-byte writes, a look after each", {}, {}},
  };
  Series engineSeries;
  const auto describe = [](const std::string& who, const Sample& sample) {
    return who + " " + FormatSeconds(sample.seconds) + " wall, " +
           FormatSeconds(sample.cpuSeconds) + " CPU, " + std::to_string(sample.contextSwitches) +
           " context switches";
  };
  for (int round = 0; round < kRounds; ++round) {
    Sample engine;
    if (!EngineRound(rig, sim, image, &engine)) {
      PrintFailedRow(cpuName, "<= 2.0", "the engine's transfer failed\n" + sim.Log());
      return 0;
    }
    engineSeries.Add(engine);
    std::string text = "round " + std::to_string(round + 1) + ": " + describe("engine", engine);
    for (Reference& reference : references) {
      Sample sample;
      if (!ProgramRound(sim, reference.argv, image, &sample)) {
        PrintFailedRow(cpuName, "<= 2.0", reference.name + "'s transfer failed\n" + sim.Log());
        return 0;
      }
      reference.series.Add(sample);
      text += "; " + describe(reference.name, sample);
    }
    Note(text);
  }
  const double rate = Median(engineSeries.mibPerSecond);
  const double cpu = Median(engineSeries.cpuMsPerMiB);
  for (const Reference& reference : references) {
    const double referenceRate = Median(reference.series.mibPerSecond);
    const double referenceCpu = Median(reference.series.cpuMsPerMiB);
    const bool isCat = reference.name == "cat";
    Note(reference.name + ": " + Fixed(referenceRate, 1) + " MiB/s, " + Fixed(referenceCpu, 2) +
         " ms CPU per MiB");
    if (isCat) {
      PrintRow({"unpaced throughput, " + FormatSize(kImageSize) + " (engine vs cat)" + rounds,
                Fixed(rate, 1) + " MiB/s", Fixed(referenceRate, 1) + " MiB/s", rate / referenceRate,
                "(reported)", std::nullopt});
    }
    PrintRow({"unpaced CPU per MiB (engine vs " + reference.name + ")" + rounds,
              Fixed(cpu, 2) + " ms/MiB", Fixed(referenceCpu, 2) + " ms/MiB", cpu / referenceCpu,
              isCat ? "<= " + Fixed(kCpuGoal, 1) : "(reported)",
              isCat ? std::optional<bool>(cpu / referenceCpu <= kCpuGoal) : std::nullopt});
  }
  return 0;
}
