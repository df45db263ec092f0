// An agent image of any content, resolved against a well-formed loader, under the
// sanitizers.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"

using namespace portflash;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzWorld& world = fuzz::World();
  static bool ready = [&] {
    const std::uint8_t loader[] = {0xFF, 0xFF, 0xFF, 0xFF, 'P', 0,   'A', 'L',  'P', 'H', 'A', 0,
                                   'P',  0,    'B',  'E',  'T', 'A', 0,   0xFF, 1,   2,   3};
    fuzz::WriteFile(world.dir + "kvr.ldr", loader, sizeof loader);
    const char* err = "[errorfile]\r\n3 Disk full\r\n";
    fuzz::WriteFile(world.dir + "kvr.err", reinterpret_cast<const std::uint8_t*>(err),
                    std::strlen(err));
    world.profile.sections["LDR Filename"]["kvr"] = "kvr.ldr";
    return true;
  }();
  (void)ready;
  std::string agent = world.dir + "kvr-agent.bin";
  fuzz::WriteFile(agent, data, size);
  CUpdateApp app(world.profile, world.dialogs);
  app.SetAppDir(world.dir.c_str());
  app.SetAgentPath(agent.c_str());  // the sanitizers judge it
  return 0;
}
