// Download after download in one process, each started the moment the previous one
// lets the wizard offer "Again?": every one must succeed, and the process must hold
// the same descriptors, threads and memory after the last as after the fifth. Each
// takes about 1.5 s, most of it the five-read listen after the loader.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "line_harness.h"
#include "support/child_process.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Their shadow memory and quarantine grow with every allocation made.
constexpr bool kMemoryIsMeaningful = false;
#else
constexpr bool kMemoryIsMeaningful = true;
#endif

namespace portflash::testing {
namespace {

using namespace std::chrono_literals;

// Allocator pages that a long run may still touch for the first time. Small leaks
// are LeakSanitizer's (the AddressSanitizer stage runs this test); this bound is for
// growth that a loaded machine's allocator cannot explain.
constexpr long kResidentSlackKiB = 2048;

struct Holdings {
  std::set<std::string> descriptors;
  std::size_t threads = 0;
  long residentKiB = 0;
};

TEST(EnduranceTest, DownloadAfterDownloadSucceedsAndLeavesNothingBehind) {
  constexpr int count = 40;
  constexpr std::uint32_t kSkip = 16;
  TempDir dir;
  ASSERT_TRUE(WriteImage(dir / "kvr.ldr", 1200, 1));
  ASSERT_TRUE(WriteImage(dir / "kvr0001.bin", 2500, 2));
  ASSERT_TRUE(WriteFile(dir / "loader.expected", ReadFile(dir / "kvr.ldr").substr(kSkip)));
  SimProcess sim(PORTFLASH_SIM, {"--quiet", "--expect-loader", dir / "loader.expected",
                                 "--expect-agent", dir / "kvr0001.bin"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  const std::size_t threadsBefore = Threads().size();

  // One application for the whole run, as the wizard keeps one.
  LineDownload download({.device = sim.Device(),
                         .loader = dir / "kvr.ldr",
                         .loaderSkip = kSkip,
                         .agent = dir / "kvr0001.bin"});
  const auto holdings = [&] {
    // The thread of the last download has told that it ended; let it leave.
    EXPECT_TRUE(download.thread->WaitForEnd(5s));
    EXPECT_TRUE(Eventually([&] { return Threads().size() == threadsBefore; }, 2s));
    return Holdings{OpenDescriptors(), Threads().size(), ResidentKiB()};
  };
  Holdings atFifth;
  for (int i = 1; i <= count; ++i) {
    ASSERT_TRUE(download.Start()) << "download " << i;
    // "Again?" is offered once the download is no longer set.
    ASSERT_TRUE(Eventually([&] { return !download.app.IsDownloadSet(); }, 30s)) << "download " << i;
    ASSERT_EQ(download.ui.Messages(), (std::vector<std::string>{kPowerOff, kSuccess}))
        << "download " << i;
    download.ui.Clear();
    if (i == 5) atFifth = holdings();
  }
  const Holdings atLast = holdings();

  // The unit got every image whole, every time.
  ASSERT_TRUE(sim.WaitForReport(count, 5s));
  EXPECT_EQ(sim.Report(), std::vector<std::string>(count, "ok loader=1184 agent=2500"));

  EXPECT_EQ(atLast.descriptors, atFifth.descriptors);
  EXPECT_EQ(atLast.threads, atFifth.threads);
  EXPECT_TRUE(!kMemoryIsMeaningful || atLast.residentKiB <= atFifth.residentKiB + kResidentSlackKiB)
      << atFifth.residentKiB << " KiB after the fifth, " << atLast.residentKiB << " after the last";
}

}  // namespace
}  // namespace portflash::testing
