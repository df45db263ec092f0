// A loader of any content; the first byte picks the agent's family prefix,
// which decides where a fixed-offset header is read.
#include <sys/stat.h>
#include <cstdint>

#include "fuzz_support.h"

using namespace portflash;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kPrefixes[] = {"kvr", "hpz", "abc", "TNW"};
  fuzz::FuzzWorld& world = fuzz::World();
  std::string prefix = kPrefixes[data[0] % 4];
  world.profile.sections["LDR Filename"][prefix] = "loader.ldr";
  fuzz::WriteFile(world.dir + "loader.ldr", data + 1, size - 1);
  // The agent names one product and commits at once through a wildcard-free 'I'.
  const std::uint8_t agent[] = {'P', 3, 'A', 0, 0xBB, 'I', 1, 0xFE};
  std::string agentPath = world.dir + prefix + "-agent.bin";
  fuzz::WriteFile(agentPath, agent, sizeof agent);
  CUpdateApp app(world.profile, world.dialogs);
  app.SetAppDir(world.dir.c_str());
  app.SetAgentPath(agentPath.c_str());
  struct stat info {};
  if (stat((world.dir + "loader.ldr").c_str(), &info) == 0 &&
      app.GetLoaderSkip() > static_cast<std::uint32_t>(info.st_size)) {
    __builtin_trap();  // the download would start past the end of the loader
  }
  world.profile.sections["LDR Filename"].erase(prefix);
  return 0;
}
