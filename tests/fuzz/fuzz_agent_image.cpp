// An agent image of any content, resolved against a well-formed loader, under the
// sanitizers.
#include <cstdint>
#include <string>

#include "app/update_app.h"
#include "support/fakes.h"
#include "support/harness.h"
#include "unit/image_test_files.h"

using namespace portflash;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const testing::TempDir dir;
  static testing::MapProfile profile;
  static const bool ready = [] {
    profile.sections["LDR Filename"]["kvr"] = "kvr.ldr";
    return testing::WriteFile(dir / "kvr.ldr", testing::MarkedLoader({"ALPHA", "BETA"})) &&
           testing::WriteFile(dir / "kvr.err", "[errorfile]\r\n3 Disk full\r\n");
  }();
  if (!ready) __builtin_trap();
  testing::WriteFile(dir / "kvr-agent.bin", std::string(data, data + size));
  testing::Recorder dialogs;
  CUpdateApp app(profile, dialogs);
  app.SetAppDir((dir.Path() + "/").c_str());
  app.SetAgentPath((dir / "kvr-agent.bin").c_str());  // the sanitizers judge it
  return 0;
}
