#pragma once

namespace portflash::cli {

// Ctrl-C, SIGTERM and SIGHUP turned into a flag and a descriptor that becomes
// readable (and stays so) once one of them has arrived, so that any wait can
// poll it next to what it waits for.
class Interrupt {
 public:
  static bool Install();
  static bool Requested();
  static int Descriptor();  // -1 before Install
  // Block around the start of a thread so that it inherits the mask and the
  // signals reach the main thread only, never interrupting the transfer's calls.
  static void BlockInThisThread();
  static void UnblockInThisThread();
  static int Signal();  // the signal that arrived first, 0 if none
};

}  // namespace portflash::cli
