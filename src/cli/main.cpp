// portflash-cli: the wizard's download without a window.
#include <unistd.h>  // dup and dup2 (MinGW has them too)

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/port_list.h"
#include "app/profile.h"
#include "app/update_app.h"
#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/interrupt.h"
#include "cli/json_report.h"
#include "cli/terminal.h"
#include "engine/download_thread.h"
#include "engine/result_messages.h"
#include "engine/serial_link.h"
#include "image/image_files.h"
#include "platform/system.h"
#include "res/string_table.h"

namespace portflash::cli {
namespace {

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
  report.agent = system::NativePath(options.agent);  // as the program shows it
  if (!Interrupt::Install()) {
    std::perror("portflash-cli: signal handlers");
    return kExitFailure;
  }
  TerminalOutput out(console::ProgressRedraws(), console::Width());
  if (options.json) out.MessagesToStderr();
  const std::unique_ptr<Profile> profile = OpenUserProfile();
  CUpdateApp* current = nullptr;
  TerminalDialogs dialogs(out, options.yes, Interrupt::Descriptor(), [&current] {
    // Stop the transfer before the power-off wait returns, so that nothing is sent.
    if (current) {
      if (auto thread = current->GetDownloadThread()) thread->Abort();
    }
  });
  CUpdateApp app(*profile, dialogs);
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
  const std::unique_ptr<Profile> profile = OpenUserProfile();
  TerminalOutput out(false);
  TerminalDialogs dialogs(out, true, -1, nullptr);
  CUpdateApp app(*profile, dialogs);  // the profile's "Ports" entries name COM1 to COM4
  std::string text;
  for (const PortChoice& choice : AvailablePortChoices(FindPresentPorts())) {
    text += choice.name;
    if (!choice.note.empty()) text += " - " + choice.note;
    text += "\n";
  }
  std::fputs(text.c_str(), stdout);
  return std::fflush(stdout) == 0 ? kExitSuccess : kExitFailure;
}

// With --json, stdout carries the report and nothing else: from here on whatever
// any part of the program writes to stdout (the handshake's dots) goes to stderr.
// Returns the stream that still reaches the real stdout.
std::FILE* KeepStdoutForReport() {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  if (saved < 0) return stdout;
  std::FILE* report = fdopen(saved, "w");
  if (report == nullptr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    if (report != nullptr) {
      std::fclose(report);
    } else {
      close(saved);
    }
    return stdout;
  }
  return report;
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
  std::FILE* reportOut = options.json ? KeepStdoutForReport() : nullptr;
  RunReport report;
  report.exitStatus = Run(options, report);
  if (reportOut != nullptr) {
    std::fflush(stdout);
    std::fprintf(reportOut, "%s\n", FormatJson(report).c_str());
    if (reportOut != stdout) {
      std::fclose(reportOut);
    } else {
      std::fflush(stdout);
    }
  }
  return report.exitStatus;
}
