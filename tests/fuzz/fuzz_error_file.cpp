// A result-message file of any content, then every code the unit can send, under
// the sanitizers.
#include <cstdint>

#include "engine/result_messages.h"
#include "fuzz_support.h"

using namespace portflash;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzWorld& world = fuzz::World();
  std::string path = world.dir + "messages.err";
  fuzz::WriteFile(path, data, size);
  CUpdateApp app(world.profile, world.dialogs);
  LoadResultMessages(app, path.c_str());
  for (int code = 0; code < 256; ++code) ResultText(app, static_cast<ResultCode>(code));
  return 0;
}
