// A loader of any content; the first byte picks the agent's family prefix,
// which decides where a fixed-offset header is read.
#include <cstdint>
#include <string>

#include "support/unit_rig.h"
#include "unit/image_test_files.h"

using namespace portflash;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kPrefixes[] = {"kvr", "hpz", "abc", "TNW"};
  testing::EngineRig rig;
  const std::string loader = rig.WriteFile("loader.ldr", std::string(data + 1, data + size));
  rig.app.SetLoaderOverride(loader.c_str());
  // The agent names one product and commits at once through a wildcard-free 'I'.
  const std::string agent = rig.WriteFile(std::string(kPrefixes[data[0] % 4]) + "-agent.bin",
                                          testing::Product("A") + testing::Record('I', ""));
  rig.app.SetAgentPath(agent.c_str());
  // The download would start past the end of the loader.
  if (rig.app.GetLoaderSkip() > size - 1) __builtin_trap();
  return 0;
}
