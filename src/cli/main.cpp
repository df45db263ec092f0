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
#include "cli/json_report.h"
#include "cli/terminal.h"
#include "engine/download_thread.h"
#include "engine/result_messages.h"
#include "engine/serial_link.h"
#include "image/image_files.h"
#include "qt/port_list.h"
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
                    TerminalOutput& out, TerminalProgress& progress, RunReport& report) {
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
  report.transfer = thread->GetTransferRecord();
  std::optional<ResultCode> outcome = thread->GetOutcome();
  if (!outcome) {
    // Also an interrupt at the power-off request, which ends the thread by itself.
    if (interrupted || Interrupt::Requested()) {
      report.end = RunReport::End::Cancelled;
      report.outcomeText = "Download cancelled";
      out.Message(report.outcomeText);
      return kExitCancelled;
    }
    report.end = RunReport::End::OpenFailed;  // the thread has said so
    return kExitFailure;
  }
  report.end = RunReport::End::Finished;
  report.outcome = outcome;
  report.outcomeText = thread->OutcomeText(*outcome);
  return *outcome == RESULT_SUCCESS ? kExitSuccess : kExitFailure;
}

// What the image set resolved to so far, for the report.
void NoteImageSet(const CUpdateApp& app, RunReport& report) {
  if (app.GetLoaderPath() != nullptr) report.loader = app.GetLoaderPath();
  report.loaderSkip = app.GetLoaderSkip();
  report.products = SplitProductList(app.GetProductList());
}

int Run(const CliOptions& options, RunReport& report) {
  report.port = options.port;
  report.speed = options.speed;
  report.cable = CableName(options.allSignals);
  report.agent = options.agent;
  if (!Interrupt::Install()) {
    std::perror("portflash-cli: signal handlers");
    return kExitFailure;
  }
  TerminalOutput out(isatty(STDERR_FILENO) != 0, TerminalWidth());
  if (options.json) out.MessagesToStderr();
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
  report.device = ResolvePortDevice(options.port);
  // A refusal's report holds the message that said why.
  auto refused = [&] {
    NoteImageSet(app, report);
    report.outcomeText = dialogs.LastMessage();
    return kExitFailure;
  };

  if (!CheckAgentFile(options.agent, dialogs)) return refused();
  if (options.loader) app.SetLoaderOverride(options.loader->c_str());
  if (!app.SetAgentPath(options.agent.c_str())) return refused();
  NoteImageSet(app, report);

  app.SetPortName(options.port.c_str());
  app.SetSpeed(options.speed.c_str());
  app.SetAllSignals(options.allSignals ? 1 : 0);
  PrintImageSet(app, out);
  if (Interrupt::Requested()) {
    report.end = RunReport::End::Cancelled;
    report.outcomeText = "Download cancelled";
    out.Message(report.outcomeText);
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
    report.outcomeText = "the download could not be started";
    out.Note("portflash-cli: " + report.outcomeText);
    app.SetProgressView(nullptr);
    return kExitFailure;
  }
  int status = WaitForDownload(app, thread, out, progress, report);
  app.SetProgressView(nullptr);
  if (report.end == RunReport::End::OpenFailed) report.outcomeText = dialogs.LastMessage();
  return status;
}

// The port list of the wizard's COM page, one port a line, the name to give --port first.
int ListPorts() {
  QSettingsProfile profile;
  TerminalOutput out(false);
  TerminalDialogs dialogs(out, true, -1, nullptr);
  CUpdateApp app(profile, dialogs);  // the profile's "Ports" entries name COM1 to COM4
  std::string text;
  for (const PortChoice& choice : AvailablePortChoices()) {
    text += choice.name;
    if (!choice.note.empty()) text += " - " + choice.note;
    text += "\n";
  }
  std::fputs(text.c_str(), stdout);
  return std::fflush(stdout) == 0 ? kExitSuccess : kExitFailure;
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
  const CliOptions& options = *parsed.options;
  if (options.listPorts) return ListPorts();
  RunReport report;
  report.exitStatus = Run(options, report);
  if (options.json) {
    std::printf("%s\n", FormatJson(report).c_str());
    std::fflush(stdout);
  }
  return report.exitStatus;
}
