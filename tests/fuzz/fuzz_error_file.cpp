// A result-message file of any content, then every code the unit can send, under
// the sanitizers.
#include <cstdint>
#include <string>

#include "app/update_app.h"
#include "engine/result_messages.h"
#include "support/fakes.h"
#include "support/harness.h"

using namespace portflash;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const testing::TempDir dir;
  static testing::MapProfile profile;
  testing::WriteFile(dir / "messages.err", std::string(data, data + size));
  testing::Recorder dialogs;
  CUpdateApp app(profile, dialogs);
  LoadResultMessages(app, (dir / "messages.err").c_str());
  for (int code = 0; code < 256; ++code) ResultText(app, static_cast<ResultCode>(code));
  return 0;
}
