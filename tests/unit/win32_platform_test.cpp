// The Win32 serial platform's own decisions, and the registry profile, on the
// system itself (run under Wine here). What a device shows (DSR flow, RTS
// toggle, modem lines, exclusive open) is the driver's and is not seen here.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/update_app.h"
#include "engine/serial_link.h"
#include "platform/win32/comm_settings.h"
#include "platform/win32/registry_profile.h"
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
    SetSerialPlatform(nullptr);
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

TEST(Win32CommSettings, ReadsReturnAtOnceAndWritesGiveUpInTime) {
  const COMMTIMEOUTS t = win32::LinkTimeouts(300);
  EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 300u);
}

TEST(Win32CommSettings, ComNamesGetTheDeviceNamespaceOthersStayAsGiven) {
  const std::pair<std::string, std::string> cases[] = {
      {"COM1", "\\\\.\\COM1"}, {"com12", "\\\\.\\com12"}, {"\\\\.\\COM3", "\\\\.\\COM3"},
      {"COM", "COM"},          {"COM1:", "COM1:"},        {"C:\\ports\\COM1", "C:\\ports\\COM1"}};
  for (const auto& [name, device] : cases) EXPECT_EQ(win32::DeviceName(name), device) << name;
  EXPECT_EQ(ResolvePortDevice("COM11"), "\\\\.\\COM11");
}

TEST(Win32CommSettings, OpenErrorsNameTheReason) {
  const std::pair<DWORD, OpenError> cases[] = {{ERROR_FILE_NOT_FOUND, OpenError::NotFound},
                                               {ERROR_PATH_NOT_FOUND, OpenError::NotFound},
                                               {ERROR_ACCESS_DENIED, OpenError::Busy},
                                               {ERROR_SHARING_VIOLATION, OpenError::Busy},
                                               {ERROR_GEN_FAILURE, OpenError::Other}};
  for (const auto& [error, kind] : cases) EXPECT_EQ(win32::OpenErrorFor(error), kind) << error;
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
