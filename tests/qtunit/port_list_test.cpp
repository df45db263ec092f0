#include "qt/port_list.h"

#include <gtest/gtest.h>

namespace portflash {
namespace {

const std::vector<std::string> kDefaultComDevices = {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2",
                                                     "/dev/ttyS3"};

std::vector<std::string> Names(const std::vector<PortChoice>& list) {
  std::vector<std::string> names;
  for (const PortChoice& choice : list) names.push_back(choice.name);
  return names;
}

TEST(PortList, ComNamesFirstThenUsbAdaptersThenOtherDevices) {
  std::vector<PresentPort> present = {
      {"/dev/ttyS4", "", false},
      {"/dev/ttyUSB10", "CP2102 USB to UART Bridge Controller", true},
      {"/dev/ttyACM0", "Communication Device", true},
      {"/dev/ttyUSB2", "FT232R USB UART", true},
      {"/dev/ttyAMA0", "", false},
  };
  std::vector<PortChoice> list = BuildPortList(present, kDefaultComDevices);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "/dev/ttyACM0",
                                                   "/dev/ttyUSB2", "/dev/ttyUSB10", "/dev/ttyAMA0",
                                                   "/dev/ttyS4"}));
  // Shown with the description, stored as the path.
  EXPECT_EQ(list[5].label, "/dev/ttyUSB2 - FT232R USB UART");
  EXPECT_EQ(list[5].name, "/dev/ttyUSB2");
  EXPECT_EQ(list[7].label, "/dev/ttyAMA0");
  EXPECT_EQ(list[0].label, "COM1");
  EXPECT_EQ(list[0].note, "/dev/ttyS0");
}

TEST(PortList, DeviceThatAComNameOpensIsListedOnce) {
  // COM2 is mapped to the USB adapter; ttyS0 is COM1's own device.
  std::vector<std::string> com = kDefaultComDevices;
  com[1] = "/dev/ttyUSB0";
  std::vector<PresentPort> present = {{"/dev/ttyUSB0", "FT232R USB UART", true},
                                      {"/dev/ttyS0", "", false},
                                      {"/dev/ttyUSB1", "FT232R USB UART", true},
                                      {"/dev/ttyUSB1", "FT232R USB UART", true}};
  EXPECT_EQ(Names(BuildPortList(present, com)),
            (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "/dev/ttyUSB1"}));
}

TEST(PortList, NamesThatAreNoDevicePathAreLeftOut) {
  std::vector<PresentPort> present = {{"", "", false}, {"ttyUSB0", "odd", true}};
  EXPECT_EQ(BuildPortList(present, kDefaultComDevices).size(), 4u);
  // Without a device for each COM name the four names are still offered.
  EXPECT_EQ(Names(BuildPortList({}, {})),
            (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}));
}

TEST(PortList, NumbersInNamesSortAsNumbers) {
  std::vector<PresentPort> present = {{"/dev/ttyUSB100", "", true},
                                      {"/dev/ttyUSB9", "", true},
                                      {"/dev/ttyUSB09", "", true},
                                      {"/dev/ttyUSB", "", true},
                                      {"/dev/ttyUSB10", "", true}};
  std::vector<std::string> names = Names(BuildPortList(present, kDefaultComDevices));
  EXPECT_EQ(std::vector<std::string>(names.begin() + 4, names.end()),
            (std::vector<std::string>{"/dev/ttyUSB", "/dev/ttyUSB09", "/dev/ttyUSB9",
                                      "/dev/ttyUSB10", "/dev/ttyUSB100"}));
}

}  // namespace
}  // namespace portflash
