// The Win32 serial platform's own decisions, and the registry profile, on the
// system itself (run under Wine here). What a device shows (DSR flow, RTS
// toggle, modem lines, exclusive open) is the driver's and is not seen here.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/port_list.h"
#include "app/update_app.h"
#include "engine/serial_link.h"
#include "platform/win32/comm_settings.h"
#include "platform/win32/registry_profile.h"
#include "platform/win32/win32_serial_platform.h"
#include "support/fakes.h"

namespace portflash {
namespace {

// Every field the cable tables do not name holds an odd value, every named one the
// opposite of what a cable wants, so a field left alone or set wrongly shows.
DCB SavedDcb() {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = 38400;
  dcb.fBinary = 0;
  dcb.fParity = 1;
  dcb.fOutxCtsFlow = 1;
  dcb.fOutxDsrFlow = 1;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = 1;
  dcb.fTXContinueOnXoff = 1;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  dcb.fErrorChar = 1;
  dcb.fNull = 1;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fAbortOnError = 1;
  dcb.XonLim = 1234;
  dcb.XoffLim = 4321;
  dcb.ByteSize = 7;
  dcb.Parity = ODDPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.ErrorChar = 0x3F;
  dcb.EofChar = 0x1A;
  dcb.EvtChar = 0x7E;
  return dcb;
}

TEST(Win32CommSettings, DcbOfEachCableIsTheTablesAndTheRestComesFromTheSavedOne) {
  struct Row {
    bool allSignals;
    DWORD dsrFlow, dtr, rts;
  };
  for (const Row& row : {Row{true, 1, DTR_CONTROL_HANDSHAKE, RTS_CONTROL_TOGGLE},
                         Row{false, 0, DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE}}) {
    LineConfig config;
    config.baudRate = 115200;
    config.parity = Parity::Even;
    config.parityCheck = true;
    config.outxDsrFlow = row.allSignals;
    config.dtrControl = row.allSignals ? DtrControl::Handshake : DtrControl::Disable;
    config.rtsControl = row.allSignals ? RtsControl::Toggle : RtsControl::Disable;
    const DCB saved = SavedDcb();
    const DCB dcb = win32::FillDcb(saved, config);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fNull, 0u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, row.dsrFlow);
    EXPECT_EQ(dcb.fDtrControl, row.dtr);
    EXPECT_EQ(dcb.fRtsControl, row.rts);
    // The untouched fields: put the named ones back and the whole record must match.
    DCB rest = dcb;
    rest.BaudRate = saved.BaudRate;
    rest.ByteSize = saved.ByteSize;
    rest.StopBits = saved.StopBits;
    rest.Parity = saved.Parity;
    rest.fParity = saved.fParity;
    rest.fBinary = saved.fBinary;
    rest.fOutX = saved.fOutX;
    rest.fInX = saved.fInX;
    rest.fNull = saved.fNull;
    rest.fOutxCtsFlow = saved.fOutxCtsFlow;
    rest.fOutxDsrFlow = saved.fOutxDsrFlow;
    rest.fDtrControl = saved.fDtrControl;
    rest.fRtsControl = saved.fRtsControl;
    EXPECT_EQ(std::memcmp(&rest, &saved, sizeof rest), 0) << row.allSignals;
  }
  LineConfig noParity;
  EXPECT_EQ(win32::FillDcb(SavedDcb(), noParity).Parity, NOPARITY);
  EXPECT_EQ(win32::FillDcb(SavedDcb(), noParity).fParity, 0u);
}

TEST(Win32CommSettings, ComNamesGetTheDeviceNamespaceOthersStayAsGiven) {
  const std::pair<std::string, std::string> cases[] = {
      {"COM1", "\\\\.\\COM1"}, {"com12", "\\\\.\\com12"}, {"\\\\.\\COM3", "\\\\.\\COM3"},
      {"COM", "COM"},          {"COM1:", "COM1:"},        {"C:\\ports\\COM1", "C:\\ports\\COM1"}};
  for (const auto& [name, device] : cases) EXPECT_EQ(win32::DeviceName(name), device) << name;
  EXPECT_EQ(ResolvePortDevice("COM11"), "\\\\.\\COM11");
}

// The real platform on names that are no serial port: message 121's reason line.
TEST(Win32SerialPlatform, OpenFailuresSayWhy) {
  char temp[MAX_PATH];
  ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
  const std::string file = std::string(temp) + "portflash-not-a-port.txt";
  HANDLE created = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(created, INVALID_HANDLE_VALUE);
  CloseHandle(created);

  const struct {
    std::string name;
    OpenError kind;
    std::string line;
  } cases[] = {
      {"COM201", OpenError::NotFound, "The device \\\\.\\COM201 does not exist."},
      {file, OpenError::NotSerial, file + " is not a serial device."},
  };
  for (const auto& c : cases) {
    OpenFailure why;
    EXPECT_EQ(OpenCommPort(c.name.c_str(), &why), nullptr) << c.name;
    EXPECT_EQ(why.kind, c.kind) << c.name;
    EXPECT_EQ(OpenFailureMessage(c.name.c_str(), why),
              "Unable to open the COM port\nPlease check that there are no other applications "
              "using the COM port\n" +
                  c.line);
  }
  DeleteFileA(file.c_str());
}

// The driver under the Win32 platform, played by the test.
struct Driver {
  struct Arrived {
    std::uint8_t byte;
    DWORD error;  // what the UART flagged when it came in
  };
  std::deque<Arrived> input;
  DWORD flagged = 0;  // errors since the last ClearCommError
  std::function<void()> onRead;
  DWORD writeTakes = MAXDWORD;  // bytes a write takes before its time-out
  DWORD writeError = 0;         // non-zero: writes fail with it
  DWORD openError = 0;
  bool refuseSettings = false;
  bool refuseTimeouts = false;
  std::string openedName;
  DWORD openedShare = 1;
  COMMTIMEOUTS timeouts{};
  std::vector<DCB> states;  // every SetCommState
  int purges = 0;
  int closes = 0;

  void Arrive(std::uint8_t byte, DWORD error = 0) {
    input.push_back({byte, error});
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
    if (g_driver->openError == 0) return kPort;
    SetLastError(g_driver->openError);
    return INVALID_HANDLE_VALUE;
  };
  api.closeHandle = [](HANDLE) {
    ++g_driver->closes;
    return TRUE;
  };
  api.getFileType = [](HANDLE) -> DWORD { return FILE_TYPE_CHAR; };
  api.getCommState = [](HANDLE, LPDCB dcb) {
    *dcb = g_driver->states.empty() ? DCB{} : g_driver->states.back();
    return TRUE;
  };
  api.setCommState = [](HANDLE, LPDCB dcb) {
    const bool refuse = g_driver->refuseSettings && dcb->fRtsControl == RTS_CONTROL_TOGGLE;
    if (refuse) return FALSE;
    g_driver->states.push_back(*dcb);
    return TRUE;
  };
  api.setCommTimeouts = [](HANDLE, LPCOMMTIMEOUTS timeouts) {
    g_driver->timeouts = *timeouts;
    if (!g_driver->refuseTimeouts) return TRUE;
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  };
  api.readFile = [](HANDLE, LPVOID buffer, DWORD, LPDWORD got, LPOVERLAPPED) {
    if (g_driver->onRead) std::exchange(g_driver->onRead, nullptr)();
    *got = 0;
    if (!g_driver->input.empty()) {
      *static_cast<std::uint8_t*>(buffer) = g_driver->input.front().byte;
      g_driver->input.pop_front();
      *got = 1;
    }
    return TRUE;
  };
  api.writeFile = [](HANDLE, LPCVOID, DWORD length, LPDWORD taken, LPOVERLAPPED) {
    *taken = length < g_driver->writeTakes ? length : g_driver->writeTakes;
    if (g_driver->writeError == 0) return TRUE;
    SetLastError(g_driver->writeError);
    return FALSE;
  };
  api.clearCommError = [](HANDLE, LPDWORD errors, LPCOMSTAT status) {
    *errors = std::exchange(g_driver->flagged, 0);
    if (status != nullptr) status->cbInQue = static_cast<DWORD>(g_driver->input.size());
    return TRUE;
  };
  api.purgeComm = [](HANDLE, DWORD what) {
    if ((what & PURGE_RXCLEAR) != 0) g_driver->input.clear();
    ++g_driver->purges;
    return TRUE;
  };
  return api;
}

class Win32Driver : public ::testing::Test {
 protected:
  Win32Driver() { g_driver = &driver; }
  ~Win32Driver() override { g_driver = nullptr; }
  // Everything ReadByte hands out until the line is empty.
  std::vector<int> ReadAll() {
    std::vector<int> got;
    for (int i = 0; i < 10 && !(driver.input.empty() && driver.flagged == 0); ++i) {
      std::uint8_t byte = 0;
      IoStatus status = platform.ReadByte(port, &byte);
      got.push_back(status == IoStatus::Ok ? byte : -1);
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

// A write the driver holds (DSR off) returns at its time-out with what was taken;
// the link then sees a cancel instead of waiting on.
TEST_F(Win32Driver, HeldWritesReturnSoACancelIsSeen) {
  const std::uint8_t block[5] = {1, 2, 3, 4, 5};
  std::size_t taken = 0;
  driver.writeTakes = 2;
  EXPECT_EQ(platform.Write(port, block, 5, &taken), IoStatus::Ok);
  EXPECT_EQ(taken, 2u);
  driver.writeTakes = 0;
  EXPECT_EQ(platform.Write(port, block, 5, &taken), IoStatus::WouldBlock);
  driver.writeError = ERROR_OPERATION_ABORTED;  // fAbortOnError after a line error
  EXPECT_EQ(platform.Write(port, block, 5, &taken), IoStatus::WouldBlock);
  driver.writeError = ERROR_DEVICE_REMOVED;
  EXPECT_EQ(platform.Write(port, block, 5, &taken), IoStatus::HangUp);

  driver.writeError = 0;
  SetSerialPlatform(&platform);
  CommHandle link = OpenCommPort("COM1");
  ASSERT_NE(link, nullptr);
  std::atomic<int> abort{1};
  SetCommAbortFlag(&abort);
  EXPECT_EQ(WriteCommBlock(block, sizeof block), RESULT_WRITE_FAILED);
  SetCommAbortFlag(nullptr);
  CloseCommPort(link);
  SetSerialPlatform(nullptr);
}

TEST_F(Win32Driver, OpenIsExclusiveWithTheLinksTimeoutsOrSaysWhyNot) {
  OpenFailure why;
  SerialHandle opened = platform.Open("COM12", &why);
  EXPECT_NE(opened, kNoSerialHandle);
  EXPECT_EQ(driver.openedName, "\\\\.\\COM12");
  EXPECT_EQ(driver.openedShare, 0u);
  EXPECT_EQ(driver.timeouts.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(driver.timeouts.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(driver.timeouts.WriteTotalTimeoutConstant, win32::kWriteTimeoutMs);

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
  DCB saved{};
  saved.DCBlength = sizeof saved;
  saved.BaudRate = 38400;
  driver.states.push_back(saved);
  SavedLineSettings base;
  ASSERT_TRUE(platform.GetSettings(port, &base));
  LineConfig config;
  config.baudRate = 115200;
  config.rtsControl = RtsControl::Toggle;
  driver.refuseSettings = true;
  EXPECT_FALSE(platform.Configure(port, base, config));
  ASSERT_EQ(driver.states.size(), 2u);
  EXPECT_EQ(std::memcmp(&driver.states.back(), &saved, sizeof saved), 0);
  config.rtsControl = RtsControl::Disable;
  EXPECT_TRUE(platform.Configure(port, base, config));
  EXPECT_EQ(driver.states.back().BaudRate, 115200u);
}

// Either separator ends a directory; the path is kept and shown with "\\".
TEST(Win32Paths, EitherSeparatorCountsAndBackslashesAreShown) {
  testing::MapProfile profile;
  testing::RecordingDialogs dialogs;
  CUpdateApp app(profile, dialogs);
  for (const char* path : {"C:\\img.d\\KvR7.bin", "C:/img.d/KvR7.bin", "C:\\img.d/KvR7.bin"}) {
    EXPECT_EQ(app.SetAgentPath(path), 0);  // no loader entry
    EXPECT_STREQ(app.GetAgentPath(), "C:\\img.d\\KvR7.bin");
    EXPECT_STREQ(app.GetAgentPrefix(), "KvR") << path;
    EXPECT_EQ(app.GetAbbreviatedAgentPath(12), "C:\\...\\KvR7.bin");
  }
}

// The ports Windows reports present come after COM1 to COM4, USB adapters first,
// COM10 after COM9; one that COM1 to COM4 already name, or no port name, is left out.
TEST(Win32Ports, PresentPortsFollowComOneToFour) {
  const std::vector<std::string> com = {"\\\\.\\COM1", "\\\\.\\COM2", "\\\\.\\COM3", "\\\\.\\COM4"};
  const std::vector<PresentPort> present = {
      {"COM10", "", false}, {"COM3", "Communications Port (COM3)", false},
      {"COM9", "", false},  {"COM12", "USB Serial Port (COM12)", true},
      {"LPT1", "", false},  {"", "", false}};
  const std::vector<PortChoice> list = BuildPortList(present, com);
  std::vector<std::string> labels;
  for (const PortChoice& choice : list) labels.push_back(choice.label);
  EXPECT_EQ(labels, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4",
                                              "COM12 - USB Serial Port (COM12)", "COM9", "COM10"}));
}

class RegistryProfileTest : public ::testing::Test {
 protected:
  const std::string root = "Software\\Portflash Tests\\" + std::to_string(GetCurrentProcessId());
  ~RegistryProfileTest() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, root.c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, root.c_str());
  }
  void WriteMachine(const std::string& section, const std::string& entry,
                    const std::string& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (root + "\\" + section).c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, entry.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
  }
};

TEST_F(RegistryProfileTest, UserEntriesWinMachineOnesFillInNamesIgnoreCase) {
  RegistryProfile profile(root);
  WriteMachine("LDR Filename", "kvr", "kvr-machine.ldr");
  WriteMachine("Install Version", "Version", "1.0.0");
  EXPECT_EQ(profile.GetString("ldr filename", "KVR"), "kvr-machine.ldr");
  profile.WriteString("LDR Filename", "Kvr", "kvr-user.ldr");
  EXPECT_EQ(profile.GetString("LDR FILENAME", "kvr"), "kvr-user.ldr");
  profile.RemoveEntry("LDR Filename", "KVR");  // the user's only
  EXPECT_EQ(profile.GetString("LDR Filename", "kvr"), "kvr-machine.ldr");
  EXPECT_EQ(profile.GetString("Install Version", "version"), "1.0.0");
  EXPECT_EQ(profile.GetString("Last Bin File", "Filename"), "");
  const std::string longPath(300, 'x');
  profile.WriteString("Last Bin File", "Filename", longPath);
  EXPECT_EQ(profile.GetString("Last Bin File", "filename"), longPath);
}

}  // namespace
}  // namespace portflash
