#pragma once
// The Win32 serial platform's pure parts, kept apart so that the unit tests can
// check them without a device.
#include <windows.h>

#include <string>

#include "engine/serial_platform.h"

namespace portflash::win32 {

// base with every field that config names set as the cable tables say; the
// rest (DCBlength, fDsrSensitivity, fTXContinueOnXoff, fErrorChar,
// fAbortOnError, the Xon/Xoff limits and characters, ...) kept as they are.
DCB FillDcb(const DCB& base, const LineConfig& config);

// The read-returns-at-once time-outs. A write gives up after writeTimeoutMs with
// what the driver took by then, so that output held by DSR flow never keeps a
// cancel waiting; the caller writes the rest.
COMMTIMEOUTS LinkTimeouts(DWORD writeTimeoutMs);

// "COM10" needs the device namespace to open at all; "COM1" opens either way.
// Any other name is passed on unchanged.
std::string DeviceName(const std::string& name);

// GetLastError after a failed CreateFileA, as the kind of failure shown to the user.
OpenError OpenErrorFor(DWORD error);

// What the system says about an error code, one line.
std::string SystemErrorText(DWORD error);

// A byte read while the driver reports one of these was spoilt on the line (or
// is the NUL that stands for a break) and is no reply.
inline constexpr DWORD kSpoiltByteErrors = CE_RXPARITY | CE_FRAME | CE_BREAK;

}  // namespace portflash::win32
