#pragma once
// A terminal device's settings (none when unreadable) as the kernel keeps them (termios2, byte for
// byte) and its exclusive-use flag, read through a descriptor of our own. Apart from the fault
// matrix because the kernel's termios2 header cannot share a file with <termios.h>.
#include <string>
#include <vector>

namespace portflash::testing {

struct PortState {
  std::vector<unsigned char> termios;
  int exclusive = -1;
  bool operator==(const PortState&) const = default;
};
PortState ReadPortState(const std::string& device);

}  // namespace portflash::testing
