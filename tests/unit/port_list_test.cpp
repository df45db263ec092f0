#include "app/port_list.h"

#include <gtest/gtest.h>

namespace portflash {
namespace {

std::vector<std::string> Names(const std::vector<PortChoice>& list) {
  std::vector<std::string> names;
  for (const PortChoice& choice : list) names.push_back(choice.name);
  return names;
}

// COM1 to COM4, then USB adapters, then other devices, each group in name order with
// numbers compared as numbers. A device that a COM name opens is not listed again,
// nor is a name that is no device path.
TEST(PortList, ComNamesFirstThenUsbAdaptersThenOtherDevices) {
  const std::vector<std::string> com = {"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyS2", "/dev/ttyS3"};
  const std::vector<PresentPort> present = {
      {"/dev/ttyS4", "", false},    {"/dev/ttyUSB10", "CP2102", true},
      {"/dev/ttyACM0", "", true},   {"/dev/ttyUSB2", "FT232R USB UART", true},
      {"/dev/ttyAMA0", "", false},  {"/dev/ttyUSB0", "FT232R USB UART", true},
      {"/dev/ttyS0", "", false},    {"/dev/ttyUSB09", "", true},
      {"/dev/ttyUSB", "", true},    {"/dev/ttyUSB100", "", true},
      {"/dev/ttyUSB100", "", true}, {"", "", false},
      {"ttyUSB1", "odd", true},
  };
  const std::vector<PortChoice> list = BuildPortList(present, com);
  EXPECT_EQ(Names(list),
            (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "/dev/ttyACM0", "/dev/ttyUSB",
                                      "/dev/ttyUSB2", "/dev/ttyUSB09", "/dev/ttyUSB10",
                                      "/dev/ttyUSB100", "/dev/ttyAMA0", "/dev/ttyS4"}));
  // Shown with the description, stored as the path; a COM name notes its device.
  EXPECT_EQ(list[6].label, "/dev/ttyUSB2 - FT232R USB UART");
  EXPECT_EQ(list[10].label, "/dev/ttyAMA0");
  EXPECT_EQ(list[1].label, "COM2");
  EXPECT_EQ(list[1].note, "/dev/ttyUSB0");
  EXPECT_EQ(Names(BuildPortList({}, {})),
            (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}));
}

}  // namespace
}  // namespace portflash
