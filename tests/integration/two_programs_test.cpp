// Two programs, one port: while a portflash-cli streams, a second one (or a COM
// page's test open) is refused with message 121 and the name of the holder, and
// the running download goes on undisturbed to its end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli_fixture.h"
#include "engine/serial_link.h"

namespace portflash::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

TEST_F(CliTest, SecondProgramIsRefusedWhileAnotherStreamsAndTheFirstEndsWell) {
  SimProcess sim(kSim, {"--pace", "--save-agent", "{dir}/agent.out"});
  ASSERT_TRUE(sim.Ready()) << sim.Log();
  ChildProcess first;
  ASSERT_TRUE(first.Start(Cli(Download(sim.Device()))));
  ASSERT_TRUE(first.WaitForOutput("% Done", 20s)) << first.Stdout() << first.Stderr();

  const RunResult second = RunCli(Download(sim.Device()), 20s);
  EXPECT_EQ(second.status, 1) << Describe(second);
  EXPECT_THAT(second.out, HasSubstr(kOpenFailed + "\n" + sim.Device() +
                                    " is in use by another program (portflash-cli, process " +
                                    std::to_string(first.Pid()) + ")."));
  EXPECT_THAT(second.out, Not(HasSubstr(kPowerOff)));
  OpenFailure why;  // the COM page's test open
  EXPECT_EQ(OpenCommPort(sim.Device().c_str(), &why), nullptr);
  EXPECT_EQ(why.kind, OpenError::Busy);

  EXPECT_EQ(first.Wait(60s), 0) << first.Stdout() << first.Stderr() << sim.Log();
  ASSERT_TRUE(sim.WaitForReport(1, 5s)) << sim.Log();
  EXPECT_THAT(sim.Report(), ::testing::ElementsAre(StartsWith("ok ")));
  EXPECT_EQ(ReadFile(sim.File("agent.out")), ReadFile(Sample().Agent()));
}

}  // namespace
}  // namespace portflash::testing
