#include "cli/CliCommands.h"

#include "core/app/MyUtils.h"
#include "core/app/Settings.h"
#include "core/engine/PluginManager.h"
#include "core/l10n/ResMessages.h"
#include "core/queue/JobTexts.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <set>

namespace quillo::cli {

void PrintError(const std::string& Text) {
    std::cerr << "quillo-cli: " << Text << std::endl;
}

bool NoArguments(const std::string& Command, const TArgs& Args) {
    if (Args.empty())
        return true;
    PrintError(Command + " takes no arguments");
    return false;
}

std::string StateText(const TUploadJobData& Task) {
    const std::string text = TaskStateText(Task);
    return text.empty() ? "?" : text;
}

namespace {

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

std::string DisplayName(const TFinishedUploadJobData& f) {
    return f.UploadName.empty() ? ExtractFileName(f.FileName) : f.UploadName;
}

std::string IsoTime(double dateTime) {
    if (dateTime == 0)
        return {};
    return DateTimeToQDateTime(dateTime).toString(Qt::ISODate).toStdString();
}

bool TakeFlag(TArgs& args, const std::string& flag) {
    auto it = std::find(args.begin(), args.end(), flag);
    if (it == args.end())
        return false;
    args.erase(it);
    return true;
}

// "--name VALUE" or "--name=VALUE"; false with an error when the value is missing.
bool TakeOption(TArgs& args, const std::string& name, std::string& value, bool& given) {
    given = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == name) {
            if (i + 1 >= args.size()) {
                PrintError(name + " needs a value");
                return false;
            }
            value = args[i + 1];
            args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
            given = true;
            return true;
        }
        if (args[i].rfind(name + "=", 0) == 0) {
            value = args[i].substr(name.size() + 1);
            args.erase(args.begin() + long(i));
            given = true;
            return true;
        }
    }
    return true;
}

bool RejectUnknownOptions(const TArgs& args) {
    for (const std::string& a : args)
        if (a.size() > 1 && a[0] == '-') {
            PrintError("unknown option " + a);
            return false;
        }
    return true;
}

// The listing commands take nothing but an optional --json; false (a usage error) on anything else.
bool TakeJsonOnly(const std::string& command, const TArgs& Args, bool& json) {
    TArgs args = Args;
    json = TakeFlag(args, "--json");
    if (!RejectUnknownOptions(args))
        return false;
    if (!args.empty())
        PrintError(command + " takes no arguments but --json");
    return args.empty();
}

void PrintJson(const QJsonDocument& doc) {
    const QByteArray bytes = doc.toJson(QJsonDocument::Indented);
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// Every entry that names a folder is replaced by the files below it (hidden ones too),
// appended at the end; files keep their order.
std::vector<std::string> ExpandPaths(const std::vector<std::string>& paths, bool& ok) {
    std::vector<std::string> files, fromFolders;
    ok = true;
    for (const std::string& p : paths) {
        const QFileInfo info(Q(p));
        if (info.isDir()) {
            QDirIterator it(info.absoluteFilePath(), QDir::Files | QDir::Hidden | QDir::System,
                            QDirIterator::Subdirectories);
            std::vector<std::string> found;
            while (it.hasNext())
                found.push_back(it.next().toStdString());
            std::sort(found.begin(), found.end());
            fromFolders.insert(fromFolders.end(), found.begin(), found.end());
        } else if (info.exists()) {
            files.push_back(info.absoluteFilePath().toStdString());
        } else {
            PrintError("no such file or folder: " + p);
            ok = false;
        }
    }
    files.insert(files.end(), fromFolders.begin(), fromFolders.end());
    // The same file named twice (directly and through its folder) would become two tasks that
    // upload under the same name at once; the first mention is kept.
    std::set<std::string> seen;
    std::erase_if(files, [&](const std::string& f) { return !seen.insert(UpperCaseAscii(f)).second; });
    return files;
}

// The queued files' paths, compared without regard to ASCII case.
std::set<std::string> QueuedPaths(const TUploadQueue& queue) {
    std::set<std::string> paths;
    for (std::size_t i = 0; i < queue.TaskCount(); ++i)
        paths.insert(UpperCaseAscii(queue.Task(i).FileName));
    return paths;
}

// Task numbers (1 = top; "3-5" ranges) or --all into ids; false with an error on bad input.
bool SelectTasks(const TUploadQueue& queue, TArgs args, std::vector<TJobId>& ids, bool& all) {
    all = TakeFlag(args, "--all");
    if (!RejectUnknownOptions(args))
        return false;
    if (all) {
        ids = queue.TaskIds();
        return true;
    }
    if (args.empty()) {
        PrintError("name the tasks by number (see 'quillo-cli list') or use --all");
        return false;
    }
    for (const std::string& a : args) {
        int32_t from = 0, to = 0;
        const std::size_t dash = a.find('-');
        const bool okFrom = TryStrToIntDecimal(dash == std::string::npos ? a : a.substr(0, dash), from);
        const bool okTo =
            dash == std::string::npos ? (to = from, true) : TryStrToIntDecimal(a.substr(dash + 1), to);
        if (!okFrom || !okTo || from < 1 || to < from || std::size_t(to) > queue.TaskCount()) {
            PrintError("no task " + a + " (the queue has " + std::to_string(queue.TaskCount()) + " tasks)");
            return false;
        }
        for (int32_t n = from; n <= to; ++n)
            ids.push_back(queue.Task(std::size_t(n - 1)).Id());
    }
    return true;
}

// The selected tasks (numbers or --all) in one of the From states go to To; `moved` is how many more
// tasks are in To afterwards. False with an error on a bad selection.
bool MoveSelectedTasks(TCliContext& Ctx, const TArgs& Args, TJobStates From, TJobState To, int& moved) {
    std::vector<TJobId> ids;
    bool all = false;
    if (!SelectTasks(Ctx.Queue, Args, ids, all))
        return false;
    const int before = Ctx.Queue.CountTasksIn({To});
    Ctx.Scheduler->ChangeTaskStates(From, To, ids);
    Ctx.Scheduler->SetTimerEnabled(false);
    moved = Ctx.Queue.CountTasksIn({To}) - before;
    return true;
}

} // namespace

void PrintLinks(const TUploadQueue& Queue, std::size_t First) {
    for (std::size_t i = First; i < Queue.FinishedCount(); ++i) {
        const TFinishedUploadJobData& f = Queue.Finished(i);
        std::cout << DisplayName(f) << "\n  download: " << GetValueOfKey("download-link", f.Result)
                  << "\n  delete:   " << GetValueOfKey("kill-link", f.Result) << "\n";
    }
    std::cout.flush();
}

int CmdAdd(TCliContext& Ctx, const TArgs& Args) {
    TArgs args = Args;
    std::string method, name;
    bool methodGiven = false, nameGiven = false;
    if (!TakeOption(args, "--method", method, methodGiven) || !TakeOption(args, "--name", name, nameGiven))
        return ecUsage;
    const bool delayed = TakeFlag(args, "--delayed");
    if (!RejectUnknownOptions(args))
        return ecUsage;
    if (args.empty()) {
        PrintError("add: name the files or folders to upload");
        return ecUsage;
    }
    const std::vector<std::string> names = UploaderNames();
    if (!methodGiven) {
        const std::string last = AppSettings.General.LastUploadHost;
        method = std::find(names.begin(), names.end(), last) != names.end() ? last : HttpMethodName;
    }
    if (std::find(names.begin(), names.end(), method) == names.end()) {
        PrintError("unknown upload method \"" + method + "\" (use \"HTTP Method\" or \"FTP Method\")");
        return ecUsage;
    }
    if (method == FtpMethodName && !AppSettings.Brimvault.UseAccount) {
        PrintError(SingleLine(ResString(rmNeedAccountForFtp)) +
                   " (quillo-cli set Brimvault.UseAccount=1 Brimvault.UserName=... Brimvault.Password=...)");
        return ecUsage;
    }

    bool ok = true;
    std::vector<std::string> files = ExpandPaths(args, ok);
    if (!ok)
        return ecUsage;
    const std::size_t expanded = files.size();
    const std::set<std::string> queued = QueuedPaths(Ctx.Queue);
    std::erase_if(files, [&](const std::string& f) { return queued.count(UpperCaseAscii(f)) > 0; });
    if (files.size() != expanded) {
        if (files.empty()) {
            std::cout << SingleLine(ResString(expanded == 1 ? rmFileAlreadyQueued : rmFilesAlreadyQueued))
                      << std::endl;
            return ecOk;
        }
        std::cout << SingleLine(ResString(rmSomeFilesAlreadyQueued)) << std::endl;
    }
    if (nameGiven && files.size() != 1) {
        PrintError("--name applies to a single file; several files keep their own names");
        return ecUsage;
    }
    if (nameGiven && (Trim(name).empty() || Trim(name).find('/') != std::string::npos)) {
        PrintError("--name must be a file name without '/'");
        return ecUsage;
    }

    int added = 0;
    int result = ecOk;
    for (const std::string& f : files) {
        try {
            const std::size_t index = Ctx.Queue.AddTask(f, Trim(name), "", method);
            Ctx.Scheduler->SetTaskState(index, delayed ? jsDelayed : jsQueued, false);
            ++added;
        } catch (const std::exception& e) {
            PrintError(e.what());
            result = ecUsage;
        }
    }
    UpdateSettings([&](TAppSettings& s) { s.General.LastUploadHost = method; });
    Ctx.Scheduler->SaveJobs();
    std::cout << "Added " << added << (added == 1 ? " file" : " files") << " (" << method << ", "
              << (delayed ? "delayed" : "queued") << "). " << Ctx.Queue.UpdateQueueSummary()
              << " in the queue." << std::endl;
    return result;
}

int CmdList(TCliContext& Ctx, const TArgs& Args) {
    bool json = false;
    if (!TakeJsonOnly("list", Args, json))
        return ecUsage;
    const TUploadQueue& q = Ctx.Queue;
    if (json) {
        QJsonArray list;
        for (std::size_t i = 0; i < q.TaskCount(); ++i) {
            const TUploadJobData& t = q.Task(i);
            static const char* const kStates[] = {"Queued", "Delayed", "Uploading", "Finished", "Error"};
            list.append(QJsonObject{{"number", qint64(i + 1)},
                                    {"state", kStates[t.State]},
                                    {"file", Q(t.FileName)},
                                    {"size", qint64(t.FileSize)},
                                    {"uploadName", Q(t.UploadName)},
                                    {"method", Q(t.Method)},
                                    {"status", Q(t.StatusText)},
                                    {"resumeInfo", Q(t.ResumeInfo)}});
        }
        PrintJson(QJsonDocument(list));
        return ecOk;
    }
    if (q.TaskCount() == 0) {
        std::cout << "The upload queue is empty." << std::endl;
        return ecOk;
    }
    for (std::size_t i = 0; i < q.TaskCount(); ++i) {
        const TUploadJobData& t = q.Task(i);
        std::printf("%3zu  %-16s %14s  %-11s  %s\n", i + 1, StateText(t).c_str(),
                    FormatThousands(t.FileSize).c_str(), t.Method.c_str(), EffectiveUploadName(t).c_str());
        if ((t.State == jsError || t.State == jsUploading) && !t.StatusText.empty())
            std::printf("     %s\n", SingleLine(t.StatusText).c_str());
    }
    std::cout << q.QueueSummary() << std::endl;
    return ecOk;
}

int CmdFinished(TCliContext& Ctx, const TArgs& Args) {
    bool json = false;
    if (!TakeJsonOnly("finished", Args, json))
        return ecUsage;
    const TUploadQueue& q = Ctx.Queue;
    if (json) {
        QJsonArray list;
        for (std::size_t i = 0; i < q.FinishedCount(); ++i) {
            const TFinishedUploadJobData& f = q.Finished(i);
            list.append(QJsonObject{{"number", qint64(i + 1)},
                                    {"file", Q(f.FileName)},
                                    {"size", qint64(f.FileSize)},
                                    {"uploadName", Q(f.UploadName)},
                                    {"method", Q(f.Method)},
                                    {"startTime", Q(IsoTime(f.StartTime))},
                                    {"endTime", Q(IsoTime(f.EndTime))},
                                    {"downloadLink", Q(GetValueOfKey("download-link", f.Result))},
                                    {"deleteLink", Q(GetValueOfKey("kill-link", f.Result))},
                                    {"md5", Q(GetValueOfKey("MD5", f.Result))},
                                    {"result", Q(f.Result)}});
        }
        PrintJson(QJsonDocument(list));
        return ecOk;
    }
    if (q.FinishedCount() == 0) {
        std::cout << "No finished uploads." << std::endl;
        return ecOk;
    }
    for (std::size_t i = 0; i < q.FinishedCount(); ++i) {
        const TFinishedUploadJobData& f = q.Finished(i);
        std::printf("%3zu  %s  %14s  %-11s  %s\n", i + 1, IsoTime(f.EndTime).c_str(),
                    FormatThousands(f.FileSize).c_str(), f.Method.c_str(), DisplayName(f).c_str());
    }
    return ecOk;
}

int CmdLinks(TCliContext& Ctx, const TArgs& Args) {
    if (!NoArguments("links", Args))
        return ecUsage;
    PrintLinks(Ctx.Queue);
    return ecOk;
}

int CmdStart(TCliContext& Ctx, const TArgs& Args) {
    int moved = 0;
    if (!MoveSelectedTasks(Ctx, Args, {jsDelayed, jsError}, jsQueued, moved))
        return ecUsage;
    std::cout << "Queued " << moved << " tasks; 'quillo-cli run' uploads them." << std::endl;
    return ecOk;
}

int CmdStop(TCliContext& Ctx, const TArgs& Args) {
    int moved = 0;
    if (!MoveSelectedTasks(Ctx, Args, {jsQueued, jsUploading, jsError}, jsDelayed, moved))
        return ecUsage;
    std::cout << "Delayed " << moved << " tasks." << std::endl;
    return ecOk;
}

int CmdRemove(TCliContext& Ctx, const TArgs& Args) {
    std::vector<TJobId> ids;
    bool all = false;
    if (!SelectTasks(Ctx.Queue, Args, ids, all))
        return ecUsage;
    // A task named twice ("1 1-2") is removed, and counted, once.
    std::size_t removed = 0;
    for (TJobId id : ids)
        removed += Ctx.Queue.DeleteTaskById(id) ? 1 : 0;
    Ctx.Scheduler->SaveJobs();
    std::cout << "Removed " << removed << " tasks. " << Ctx.Queue.UpdateQueueSummary() << " in the queue."
              << std::endl;
    return ecOk;
}

} // namespace quillo::cli
