// A loader of any content; the first byte picks the agent's family prefix,
// which decides where a fixed-offset header is read.
#include <cstdint>
#include <string>

#include "app/update_app.h"
#include "support/fakes.h"
#include "support/harness.h"
#include "unit/image_test_files.h"

using namespace portflash;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kPrefixes[] = {"kvr", "hpz", "abc", "TNW"};
  static const testing::TempDir dir;
  const std::string prefix = kPrefixes[data[0] % 4];
  testing::MapProfile profile;
  profile.sections["LDR Filename"][prefix] = "loader.ldr";
  testing::WriteFile(dir / "loader.ldr", std::string(data + 1, data + size));
  // The agent names one product and commits at once through a wildcard-free 'I'.
  testing::WriteFile(dir / (prefix + "-agent.bin"),
                     testing::Product("A") + testing::Record('I', ""));
  testing::Recorder dialogs;
  CUpdateApp app(profile, dialogs);
  app.SetAppDir((dir.Path() + "/").c_str());
  app.SetAgentPath((dir / (prefix + "-agent.bin")).c_str());
  // The download would start past the end of the loader.
  if (app.GetLoaderSkip() > size - 1) __builtin_trap();
  return 0;
}
