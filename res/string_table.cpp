#include "res/string_table.h"

namespace portflash {
namespace {

struct Entry {
  int id;
  const char* text;
};

constexpr Entry kStrings[] = {
    {103, "Wizard"},
    {104, "Welcome"},
    {105,
     "Welcome to Tarvex Flashmoor.\n\nThis will recover the agent on your Corvane, or Nimbrel "
     "70x0 device using the console port."},
    {106, "Please choose your PC COM port and speed"},
    {107, "Below is the information you have chosen"},
    {108,
     "Please Choose the name of the Software (.BIN) file to download\n\nThe full path for the "
     "software file needs to be entered into the box below."},
    {110, "Please Power on your unit to start synchronisation"},
    {111, "Update completed successfully"},
    {112, "Timeout waiting for device to send result code."},
    {113, "No filename given. Please enter a bin file name before continuing"},
    {114, "Failed to write data to device"},
    {115, "Failed to synchronise with device"},
    {116, "Invalid baud rate requested"},
    {117, "Couldn't configure comms port for required parameters"},
    {118, "The COM port has timed out"},
    {119, "Not enough memory to complete task"},
    {120, "Unable to find the bin file specified. Please check and try again"},
    {121,
     "Unable to open the COM port\nPlease check that there are no other applications using the "
     "COM port"},
    {122, "Utility Version 3.20 - 09/Dec/2005"},
    {123, "Complete"},
    {124, "Waiting for device to complete..."},
    {125, "Currently Downloading!"},
    {126, "No Loader file found for agent filename"},
    {128, "Are you sure you want to cancel the current download?"},
    {129, "Arial"},
    {131, "22"},
    {132, "Setting up the COM Port"},
    {133, "COM Port Speed (bps):"},
    {134, "COM Port:"},
    {135, "Choosing the Software for your unit"},
    {136, "Please Check Details"},
    {137, "If this is correct, please power off your unit and click Next to continue."},
    {138, "Sending file to unit"},
    {139, "Type of Serial Cable"},
    {141, "Please Power OFF your unit and Click OK to continue."},
};

}  // namespace

const char* LoadStringResource(int id) {
  for (const Entry& entry : kStrings) {
    if (entry.id == id) return entry.text;
  }
  return "";
}

}  // namespace portflash
