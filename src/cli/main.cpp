// quillo-cli: Quillo without windows. Same data folder, settings and jobs file as the desktop
// program, and the same single-instance lock, so that the two never write the jobs file at once.
#include "cli/CliCommands.h"
#include "cli/CliLanguage.h"
#include "core/app/InstanceLock.h"
#include "core/l10n/ResMessages.h"

#include "core/app/DataFolder.h"
#include "core/app/EXEUtils.h"
#include "core/app/Settings.h"
#include "core/engine/PluginManager.h"
#include "core/queue/JobsFile.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

using namespace quillo;
using namespace quillo::cli;

namespace {

const char* const kUsage = R"(Usage: quillo-cli [--home DIR] [--site HOST[:PORT]] COMMAND [ARGS]

Commands:
  add [--method "HTTP Method"|"FTP Method"] [--name NAME] [--delayed] PATH...
                      queue files (folders are expanded, files already queued are skipped)
  list [--json]       the upload queue
  finished [--json]   the finished uploads
  links               download and delete links of the finished uploads
  start N...|--all    queue Delayed or failed tasks again (numbers as 'list' shows them)
  stop N...|--all     delay tasks
  remove N...|--all   remove tasks from the queue
  run                 upload until nothing is queued; Ctrl+C stops and keeps what was sent
  set Section.Key=Value...   change settings (e.g. Brimvault.UseAccount=1)
  settings            show the settings
  check-language FILE load a language file and print every problem in it

Options:
  --home DIR          data folder (default: QUILLO_HOME, else as the desktop program)
  --site HOST[:PORT]  the service's web site (default: QUILLO_SITE, else the settings)
  -h, --help          this text
  --version           the program's version

"--" ends the options: the words after it are files (or task numbers) even if they start with "-".

Exit codes: 0 done, 1 an upload failed, 2 bad usage, 3 the desktop program or another quillo-cli runs,
4 a file or folder could not be added (each one is named), 5 the upload queue could not be saved,
130 stopped by a signal.
)";

// Settings commands work without the queue; the others load it first.
struct TCommand {
    const char* Name;
    int (*Settings)(const TArgs&);
    int (*Queue)(TCliContext&, const TArgs&);
};

const TCommand kCommands[] = {
    {"add", nullptr, &CmdAdd},           {"list", nullptr, &CmdList},   {"finished", nullptr, &CmdFinished},
    {"links", nullptr, &CmdLinks},       {"start", nullptr, &CmdStart}, {"stop", nullptr, &CmdStop},
    {"remove", nullptr, &CmdRemove},     {"run", nullptr, &CmdRun},     {"set", &CmdSet, nullptr},
    {"settings", &CmdSettings, nullptr},
};

void ReportJobsError(const std::string& caption, const std::string& text) {
    PrintError(caption + ": " + text);
}

// Set when a save of the jobs file failed at any point: whatever the command did is then not
// kept (an added task is gone, an uploaded one would be uploaded again), so the exit code says so.
bool gSaveFailed = false;

void ReportSaveError(const std::string& caption, const std::string& text) {
    gSaveFailed = true;
    ReportJobsError(caption, text);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    std::string home, site;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool isHome = a == "--home", isSite = a == "--site";
        if (args.empty() && (isHome || isSite)) {
            if (i + 1 >= argc) {
                PrintError(a + " needs a value");
                return ecUsage;
            }
            (isHome ? home : site) = argv[++i];
        } else if (args.empty() && a.rfind("--home=", 0) == 0) {
            home = a.substr(7);
        } else if (args.empty() && a.rfind("--site=", 0) == 0) {
            site = a.substr(7);
        } else if (args.empty() && (a == "-h" || a == "--help" || a == "help")) {
            std::cout << kUsage;
            return ecOk;
        } else if (args.empty() && a == "--version") {
            std::cout << VersionText("quillo-cli");
            return ecOk;
        } else {
            args.push_back(a);
        }
    }
    if (args.empty()) {
        std::cerr << kUsage;
        return ecUsage;
    }
    const std::string name = args.front();
    args.erase(args.begin());
    if (name == "check-language") // touches no file of the data folder: no lock needed
        return CmdCheckLanguage(args);
    const auto command = std::find_if(std::begin(kCommands), std::end(kCommands),
                                      [&](const TCommand& c) { return name == c.Name; });
    if (command == std::end(kCommands)) {
        PrintError("unknown command \"" + name + "\"; 'quillo-cli --help' lists them");
        return ecUsage;
    }
    if (!home.empty())
        SetDataFolderOverride(home);
    if (!site.empty())
        ::setenv("QUILLO_SITE", site.c_str(), 1);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillo-cli"));

    TInstanceLock lock;
    switch (lock.Acquire()) {
    case TInstanceLock::lrHeld:
        break;
    case TInstanceLock::lrBusy:
        PrintError(
            "Quillo is already running (the desktop program or another quillo-cli). Close it first: the "
            "queue has one writer at a time.");
        return ecBusy;
    case TInstanceLock::lrUnavailable:
        PrintError("cannot take the single-instance lock (" + lock.ErrorText() +
                   "); refusing to touch the queue");
        return ecBusy;
    }

    LoadSettings();
    SetServiceDomainForMessages(SiteHost());
    if (command->Settings)
        return command->Settings(args);

    RegisterBuiltinUploaders();
    TCliContext ctx;
    TSchedulerHooks hooks;
    hooks.JobsError = &ReportSaveError;
    ctx.Scheduler = std::make_unique<TScheduler>(ctx.Queue, TSchedulerOptions{}, hooks);
    LoadJobs(ctx.Queue, JobsFileName(), &ReportJobsError);
    ctx.Queue.UpdateQueueSummary();

    int rc = command->Queue(ctx, args);
    // Saves are written in the background: end only once the last one is on disk.
    ctx.Scheduler->FlushJobs();
    ctx.Scheduler.reset();
    if (gSaveFailed && (rc == ecOk || rc == ecTaskFailed || rc == ecNotAdded))
        rc = ecNotSaved;
    return rc;
}
