#pragma once
// The commands of quillo-cli. Each gets the words after its name and returns the exit code;
// messages for the user go to stdout, errors to stderr.

#include "core/queue/Scheduler.h"
#include "core/queue/UploadQueue.h"

#include <memory>
#include <string>
#include <vector>

namespace quillo::cli {

using TArgs = std::vector<std::string>;

// Exit codes.
inline constexpr int ecOk = 0;
inline constexpr int ecTaskFailed = 1; // run: a task ended in Error
inline constexpr int ecUsage = 2;
inline constexpr int ecBusy = 3;     // the desktop program (or another quillo-cli) runs
inline constexpr int ecNotAdded = 4; // add: a file or folder could not be (completely) added
inline constexpr int ecNotSaved = 5; // the jobs file could not be written: the change is not kept
inline constexpr int ecInterrupted = 130;

// The queue and its scheduler, loaded from the data folder.
struct TCliContext {
    TUploadQueue Queue;
    std::unique_ptr<TScheduler> Scheduler;
};

int CmdAdd(TCliContext& Ctx, const TArgs& Args);
int CmdList(TCliContext& Ctx, const TArgs& Args);
int CmdFinished(TCliContext& Ctx, const TArgs& Args);
int CmdLinks(TCliContext& Ctx, const TArgs& Args);
// start / stop: the Start and Stop commands on the tasks named by number (1 = top), or --all.
int CmdStart(TCliContext& Ctx, const TArgs& Args);
int CmdStop(TCliContext& Ctx, const TArgs& Args);
int CmdRemove(TCliContext& Ctx, const TArgs& Args);
int CmdRun(TCliContext& Ctx, const TArgs& Args);

// Settings: "set Section.Key=Value ..." writes quillo.ini; "settings" prints the values.
int CmdSet(const TArgs& Args);
int CmdSettings(const TArgs& Args);

// Prints an error line "quillo-cli: <text>" to stderr, on one line and with control characters
// and bytes that are not UTF-8 made visible.
void PrintError(const std::string& Text);

// True when Args is empty; otherwise false, with an error naming Command.
bool NoArguments(const std::string& Command, const TArgs& Args);

// The state's display text ("Queued", "Uploading (42%)", ...).
std::string StateText(const TUploadJobData& Task);

// Prints the name, download link and delete link of the finished uploads from index First on.
void PrintLinks(const TUploadQueue& Queue, std::size_t First = 0);

} // namespace quillo::cli
