// portflash-cli: the wizard's download without a window.
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/update_app.h"
#include "cli/cli_options.h"
#include "cli/interrupt.h"
#include "cli/terminal.h"
#include "engine/download_thread.h"
#include "engine/serial_link.h"
#include "image/image_files.h"
#include "qt/qsettings_profile.h"
#include "res/string_table.h"

namespace portflash::cli {
namespace {

int TerminalWidth() {
  winsize size = {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// The BIN file page's own checks: something given, and a file that opens for reading.
bool CheckAgentFile(const std::string& path, Dialogs& dialogs) {
  if (path.empty()) {
    dialogs.ShowMessage(LoadStringResource(IDS_NO_FILENAME));
    return false;
  }
  // A directory opens for reading here, but it is no image.
  if (OpenRegularFile(path.c_str(), "r")) return true;
  dialogs.ShowMessage(LoadStringResource(IDS_BIN_NOT_FOUND));
  return false;
}

std::string TrimRight(const char* text) {
  std::string result = text ? text : "";
  result.erase(result.find_last_not_of(' ') + 1);
  return result;
}

void PrintImageSet(const CUpdateApp& app, TerminalOutput& out) {
  std::string port = app.GetPortName() ? app.GetPortName() : "";
  std::string device = ResolvePortDevice(port);
  std::string text = "Port:     " + port;
  if (device != port) text += " (" + device + ")";
  text += "\nSpeed:    " + std::string(app.GetSpeed() ? app.GetSpeed() : "") + " bps";
  text += "\nCable:    " + std::string(CableName(app.GetAllSignals() != 0));
  text += "\nLoader:   " + std::string(app.GetLoaderPath() ? app.GetLoaderPath() : "");
  text += " (from byte " + std::to_string(app.GetLoaderSkip()) + ")";
  text += "\nAgent:    " + std::string(app.GetAgentPath() ? app.GetAgentPath() : "");
  text += "\nProducts: " + TrimRight(app.GetProductList());
  out.Message(text);
}

// Waits for the download thread; on an interrupt stops it as the wizard's Cancel does.
int WaitForDownload(CUpdateApp& app, const std::shared_ptr<CDownloadThread>& thread,
                    TerminalOutput& out, TerminalProgress& progress) {
  using std::chrono::milliseconds;
  bool interrupted = false;
  while (!thread->WaitForEnd(milliseconds(50))) {
    if (Interrupt::Requested()) {
      interrupted = true;
      break;
    }
  }
  if (interrupted) {
    progress.Finish();
    app.StopDownload();
    // StopDownload gives up after its wait; the port is only put back when the
    // thread ends, so the process must outlive it.
    bool told = false;
    while (!thread->WaitForEnd(milliseconds(100))) {
      if (!told) out.Note("Waiting for the download to stop...");
      told = true;
    }
  }
  progress.Finish();
  std::optional<ResultCode> outcome = thread->GetOutcome();
  if (!outcome) {
    // Also an interrupt at the power-off request, which ends the thread by itself.
    if (interrupted || Interrupt::Requested()) {
      out.Message("Download cancelled");
      return kExitCancelled;
    }
    return kExitFailure;  // the port did not open; the thread has said so
  }
  return *outcome == RESULT_SUCCESS ? kExitSuccess : kExitFailure;
}

int Run(const CliOptions& options) {
  if (!Interrupt::Install()) {
    std::perror("portflash-cli: signal handlers");
    return kExitFailure;
  }
  TerminalOutput out(isatty(STDERR_FILENO) != 0, TerminalWidth());
  QSettingsProfile profile;
  CUpdateApp* current = nullptr;
  TerminalDialogs dialogs(out, options.yes, Interrupt::Descriptor(), [&current] {
    // Stop the transfer before the power-off wait returns, so that nothing is sent.
    if (current) {
      if (auto thread = current->GetDownloadThread()) thread->Abort();
    }
  });
  CUpdateApp app(profile, dialogs);
  current = &app;
  app.InitAppDir();

  if (!CheckAgentFile(options.agent, dialogs)) return kExitFailure;
  if (options.loader) app.SetLoaderOverride(options.loader->c_str());
  if (!app.SetAgentPath(options.agent.c_str())) return kExitFailure;

  app.SetPortName(options.port.c_str());
  app.SetSpeed(options.speed.c_str());
  app.SetAllSignals(options.allSignals ? 1 : 0);
  PrintImageSet(app, out);
  if (Interrupt::Requested()) {
    out.Message("Download cancelled");
    return kExitCancelled;
  }

  TerminalProgress progress(out);
  app.SetProgressView(&progress);
  // The download thread inherits the blocked signals: they come to this thread only.
  Interrupt::BlockInThisThread();
  bool started = app.StartDownload();
  std::shared_ptr<CDownloadThread> thread = app.GetDownloadThread();
  Interrupt::UnblockInThisThread();
  if (!started || !thread) {
    out.Note("portflash-cli: the download could not be started");
    app.SetProgressView(nullptr);
    return kExitFailure;
  }
  int status = WaitForDownload(app, thread, out, progress);
  app.SetProgressView(nullptr);
  return status;
}

}  // namespace
}  // namespace portflash::cli

int main(int argc, char** argv) {
  using namespace portflash::cli;
  std::string program = "portflash-cli";
  std::vector<std::string> args(argv + 1, argv + argc);
  ParseResult parsed = ParseCommandLine(args);
  if (!parsed.options) {
    std::fprintf(stderr, "%s: %s\n%sTry '%s --help' for more.\n", program.c_str(),
                 parsed.error.c_str(), UsageLine(program).c_str(), program.c_str());
    return kExitUsage;
  }
  if (parsed.options->help) {
    std::fputs(HelpText(program).c_str(), stdout);
    return kExitSuccess;
  }
  return Run(*parsed.options);
}
