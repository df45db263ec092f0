// An agent image of any content, resolved against a well-formed loader, under the
// sanitizers.
#include <cstdint>
#include <string>

#include "support/unit_rig.h"
#include "unit/image_test_files.h"

using namespace portflash;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  testing::EngineRig rig;
  const std::string loader = rig.WriteFile("kvr.ldr", testing::MarkedLoader({"ALPHA", "BETA"}));
  rig.app.SetLoaderOverride(loader.c_str());
  rig.WriteFile("kvr.err", "[errorfile]\r\n3 Disk full\r\n");
  const std::string agent = rig.WriteFile("kvr-agent.bin", std::string(data, data + size));
  rig.app.SetAgentPath(agent.c_str());  // the sanitizers judge it
  return 0;
}
