// The Win32 serial platform's own decisions, and the registry profile, on the
// system itself (run under Wine here). What a device shows (DSR flow, RTS
// toggle, modem lines, exclusive open) is the driver's and is not seen here.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/port_list.h"
#include "engine/serial_link.h"
#include "platform/win32/comm_settings.h"
#include "platform/win32/registry_profile.h"
#include "platform/win32/win32_serial_platform.h"
#include "support/fakes.h"
#include "support/harness.h"

namespace portflash {
namespace {

// The saved DCB is a bit pattern and its complement, so that a field left alone
// or set wrongly shows in one of them; every field the cable tables do not name
// must come through unchanged.
TEST(Win32CommSettings, DcbOfEachCableIsTheTablesAndTheRestComesFromTheSavedOne) {
  for (const int pattern : {0xA5, 0x5A}) {
    for (const auto& [allSignals, parity] :
         {std::pair{true, true}, {false, true}, {false, false}}) {
      DCB saved;
      std::memset(&saved, pattern, sizeof saved);
      DCB want = saved;
      want.BaudRate = 115200;
      want.ByteSize = 8;
      want.StopBits = ONESTOPBIT;
      want.Parity = parity ? EVENPARITY : NOPARITY;
      want.fParity = parity;
      want.fBinary = 1;
      want.fOutX = want.fInX = want.fNull = want.fOutxCtsFlow = 0;
      want.fOutxDsrFlow = allSignals;
      want.fDtrControl = allSignals ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
      want.fRtsControl = allSignals ? RTS_CONTROL_TOGGLE : RTS_CONTROL_DISABLE;
      const DCB dcb = win32::FillDcb(saved, testing::CableConfig(115200, allSignals, parity));
      EXPECT_EQ(std::memcmp(&dcb, &want, sizeof dcb), 0)
          << pattern << " all signals " << allSignals << " parity " << parity;
    }
  }
}

TEST(Win32CommSettings, ComNamesGetTheDeviceNamespaceOthersStayAsGiven) {
  const std::pair<std::string, std::string> cases[] = {
      {"COM1", "\\\\.\\COM1"}, {"com12", "\\\\.\\com12"}, {"\\\\.\\COM3", "\\\\.\\COM3"},
      {"COM", "COM"},          {"COM1:", "COM1:"},        {"C:\\ports\\COM1", "C:\\ports\\COM1"}};
  for (const auto& [name, device] : cases) EXPECT_EQ(win32::DeviceName(name), device) << name;
}

// The real platform on names that are no serial port: message 121's reason line.
TEST(Win32SerialPlatform, OpenFailuresSayWhy) {
  char temp[MAX_PATH], file[MAX_PATH];
  ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
  ASSERT_NE(GetTempFileNameA(temp, "pf", 0, file), 0u);  // creates it
  const std::pair<std::string, std::string> cases[] = {
      {"COM201", "The device \\\\.\\COM201 does not exist."},
      {file, std::string(file) + " is not a serial device."}};
  for (const auto& [name, line] : cases) {
    OpenFailure why;
    EXPECT_EQ(OpenCommPort(name.c_str(), &why), nullptr) << name;
    EXPECT_EQ(OpenFailureMessage(name.c_str(), why), testing::kOpenFailed + "\n" + line);
  }
  DeleteFileA(file);
}

// The driver under the Win32 platform, played by the test: only what the
// platform's decisions turn on.
struct Driver {
  std::deque<std::uint8_t> input;
  DWORD flagged = 0;  // what the UART flagged since the last ClearCommError
  std::function<void()> onRead;
  DWORD writeTakes = MAXDWORD, writeError = 0, openError = 0;
  bool refuseToggle = false, refuseTimeouts = false;
  std::string openedName;
  DWORD openedShare = 1;
  COMMTIMEOUTS timeouts{};
  std::vector<DCB> states{DCB{}};  // every SetCommState
  int closes = 0;

  void Arrive(std::uint8_t byte, DWORD error = 0) {
    input.push_back(byte);
    flagged |= error;
  }
};
Driver* g_driver = nullptr;
HANDLE const kPort = reinterpret_cast<HANDLE>(0x5150);

win32::CommApi DriverApi() {
  win32::CommApi api;
  api.createFile = [](LPCSTR name, DWORD, DWORD share, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                      HANDLE) {
    g_driver->openedName = name;
    g_driver->openedShare = share;
    SetLastError(g_driver->openError);
    return g_driver->openError == 0 ? kPort : INVALID_HANDLE_VALUE;
  };
  api.closeHandle = [](HANDLE) { return ++g_driver->closes, TRUE; };
  api.getFileType = [](HANDLE) -> DWORD { return FILE_TYPE_CHAR; };
  api.getCommState = [](HANDLE, LPDCB dcb) { return *dcb = g_driver->states.back(), TRUE; };
  api.setCommState = [](HANDLE, LPDCB dcb) {
    if (g_driver->refuseToggle && dcb->fRtsControl == RTS_CONTROL_TOGGLE) return FALSE;
    g_driver->states.push_back(*dcb);
    return TRUE;
  };
  api.setCommTimeouts = [](HANDLE, LPCOMMTIMEOUTS timeouts) {
    g_driver->timeouts = *timeouts;
    SetLastError(ERROR_INVALID_PARAMETER);
    return g_driver->refuseTimeouts ? FALSE : TRUE;
  };
  api.readFile = [](HANDLE, LPVOID buffer, DWORD, LPDWORD got, LPOVERLAPPED) {
    if (g_driver->onRead) std::exchange(g_driver->onRead, nullptr)();
    *got = g_driver->input.empty() ? 0 : 1;
    if (*got != 0) *static_cast<std::uint8_t*>(buffer) = g_driver->input.front();
    if (*got != 0) g_driver->input.pop_front();
    return TRUE;
  };
  api.writeFile = [](HANDLE, LPCVOID, DWORD length, LPDWORD taken, LPOVERLAPPED) {
    *taken = std::min(length, g_driver->writeTakes);
    SetLastError(g_driver->writeError);
    return g_driver->writeError == 0 ? TRUE : FALSE;
  };
  api.clearCommError = [](HANDLE, LPDWORD errors, LPCOMSTAT status) {
    *errors = std::exchange(g_driver->flagged, 0);
    if (status != nullptr) status->cbInQue = static_cast<DWORD>(g_driver->input.size());
    return TRUE;
  };
  api.purgeComm = [](HANDLE, DWORD what) {
    if ((what & PURGE_RXCLEAR) != 0) g_driver->input.clear();
    return TRUE;
  };
  return api;
}

class Win32Driver : public ::testing::Test {
 protected:
  Win32Driver() { g_driver = &driver; }
  ~Win32Driver() override { g_driver = nullptr; }
  // Everything ReadByte hands out until the line is empty; -1 for no byte.
  std::vector<int> ReadAll() {
    std::vector<int> got;
    for (int i = 0; i < 10 && !(driver.input.empty() && driver.flagged == 0); ++i) {
      std::uint8_t byte = 0;
      got.push_back(platform.ReadByte(port, &byte) == IoStatus::Ok ? byte : -1);
    }
    return got;
  }
  Driver driver;
  win32::Win32SerialPlatform platform{DriverApi()};
  const SerialHandle port = reinterpret_cast<SerialHandle>(kPort);
};

// A byte spoilt on the line (or the NUL a break leaves) is never a reply, nor is
// anything that was queued with it; an overrun spoils no byte that is read.
TEST_F(Win32Driver, SpoiltBytesAreNeverReplies) {
  for (DWORD error : {DWORD{CE_RXPARITY}, DWORD{CE_FRAME}, DWORD{CE_BREAK}}) {
    driver.Arrive(0x00, error);  // 0x00 would read as the loader's success
    driver.Arrive(0x16);
    EXPECT_EQ(ReadAll(), (std::vector<int>{-1})) << error;
    // Flagged while the read was under way: the byte read may be the spoilt one.
    driver.Arrive(0x5A);
    driver.onRead = [] { g_driver->Arrive(0x00, CE_FRAME); };
    EXPECT_EQ(ReadAll(), (std::vector<int>{-1})) << error;
    driver.Arrive(0x5A);
    EXPECT_EQ(ReadAll(), (std::vector<int>{0x5A})) << error;
  }
  driver.Arrive(0x16, CE_OVERRUN);
  EXPECT_EQ(ReadAll(), (std::vector<int>{0x16}));
}

// A write the driver holds (DSR off) returns at its time-out with what was taken,
// so that the link sees a cancel instead of waiting on; a lost device is a hang-up.
TEST_F(Win32Driver, HeldWritesReturnSoACancelIsSeen) {
  // what the driver takes and the error it gives; what the platform says and takes
  const std::tuple<DWORD, DWORD, IoStatus, std::size_t> cases[] = {
      {2, 0, IoStatus::Ok, 2},
      {0, 0, IoStatus::WouldBlock, 0},
      {0, ERROR_OPERATION_ABORTED, IoStatus::WouldBlock, 0},  // fAbortOnError
      {0, ERROR_DEVICE_REMOVED, IoStatus::HangUp, 0}};
  const std::uint8_t block[5] = {1, 2, 3, 4, 5};
  for (const auto& [takes, error, status, wantTaken] : cases) {
    driver.writeTakes = takes;
    driver.writeError = error;
    std::size_t taken = 9;
    EXPECT_EQ(platform.Write(port, block, 5, &taken), status) << error;
    EXPECT_EQ(taken, wantTaken) << error;
  }
}

TEST_F(Win32Driver, OpenIsExclusiveWithTheLinksTimeoutsOrSaysWhyNot) {
  OpenFailure why;
  EXPECT_NE(platform.Open("COM12", &why), kNoSerialHandle);
  EXPECT_EQ(driver.openedName, "\\\\.\\COM12");
  EXPECT_EQ(driver.openedShare, 0u);
  EXPECT_EQ(driver.timeouts.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(driver.timeouts.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(driver.timeouts.ReadTotalTimeoutMultiplier, 0u);
  // Zero would let output held by DSR flow block a cancel for ever.
  const DWORD write = driver.timeouts.WriteTotalTimeoutConstant;
  EXPECT_TRUE(write > 0 && write <= 500) << write;

  driver.refuseTimeouts = true;  // reads would block: not used
  EXPECT_EQ(platform.Open("COM1", &why), kNoSerialHandle);
  EXPECT_EQ(why.kind, OpenError::Other);
  EXPECT_EQ(driver.closes, 1);

  driver.openError = ERROR_ACCESS_DENIED;  // another program has it
  EXPECT_EQ(platform.Open("COM3", &why), kNoSerialHandle);
  EXPECT_EQ(DescribeOpenFailure(why, "\\\\.\\COM3"), "\\\\.\\COM3 is in use by another program.");
}

// "All Signals" where the driver cannot toggle RTS: refused, and whatever the
// driver took of it is put back.
TEST_F(Win32Driver, RefusedSettingsAreUndone) {
  driver.states.back().BaudRate = 38400;
  const DCB saved = driver.states.back();
  SavedLineSettings base;
  ASSERT_TRUE(platform.GetSettings(port, &base));
  driver.refuseToggle = true;
  EXPECT_FALSE(platform.Configure(port, base, testing::CableConfig(115200, true)));
  ASSERT_EQ(driver.states.size(), 2u);
  EXPECT_EQ(std::memcmp(&driver.states.back(), &saved, sizeof saved), 0);
  EXPECT_TRUE(platform.Configure(port, base, testing::CableConfig(115200, false)));
  EXPECT_EQ(driver.states.back().BaudRate, 115200u);
}

// Only what Windows decides: which names are ports, and that a present port COM1 to
// COM4 already name is not listed again (the order is the shared port list tests').
TEST(Win32Ports, PresentPortsFollowComOneToFour) {
  const std::vector<PresentPort> present = {
      {"COM3", "", false}, {"COM12", "USB (COM12)", true}, {"LPT1", "", false}, {"", "", false}};
  std::vector<std::string> labels;
  for (const PortChoice& choice :
       BuildPortList(present, {"\\\\.\\COM1", "\\\\.\\COM2", "\\\\.\\COM3", "\\\\.\\COM4"}))
    labels.push_back(choice.label);
  EXPECT_EQ(labels,
            (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "COM12 - USB (COM12)"}));
}

TEST(Win32Registry, UserEntriesWinMachineOnesFillInNamesIgnoreCase) {
  const std::string root = "Software\\Portflash Tests\\" + std::to_string(GetCurrentProcessId());
  const char machine[] = "kvr-machine.ldr";
  RegSetKeyValueA(HKEY_LOCAL_MACHINE, (root + "\\LDR Filename").c_str(), "kvr", REG_SZ, machine,
                  sizeof machine);
  RegistryProfile profile(root);
  EXPECT_EQ(profile.GetString("ldr filename", "KVR"), machine);
  profile.WriteString("LDR Filename", "Kvr", "kvr-user.ldr");
  EXPECT_EQ(profile.GetString("LDR FILENAME", "kvr"), "kvr-user.ldr");
  profile.RemoveEntry("LDR Filename", "KVR");  // the user's only
  EXPECT_EQ(profile.GetString("LDR Filename", "kvr"), machine);
  EXPECT_EQ(profile.GetString("Last Bin File", "Filename"), "");
  const std::string longPath(300, 'x');
  profile.WriteString("Last Bin File", "Filename", longPath);
  EXPECT_EQ(profile.GetString("Last Bin File", "filename"), longPath);
  RegDeleteTreeA(HKEY_CURRENT_USER, root.c_str());
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, root.c_str());
}

}  // namespace
}  // namespace portflash
