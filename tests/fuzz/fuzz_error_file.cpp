// A result-message file of any content, then every code the unit can send, under
// the sanitizers.
#include <cstdint>
#include <string>

#include "engine/result_messages.h"
#include "support/unit_rig.h"

using namespace portflash;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  testing::EngineRig rig;
  const std::string file = rig.WriteFile("messages.err", std::string(data, data + size));
  LoadResultMessages(rig.app, file.c_str());
  for (int code = 0; code < 256; ++code) ResultText(rig.app, static_cast<ResultCode>(code));
  return 0;
}
