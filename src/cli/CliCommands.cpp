#include "cli/CliCommands.h"

#include "cli/CliText.h"
#include "core/app/MyUtils.h"
#include "core/app/Settings.h"
#include "core/engine/PluginManager.h"
#include "core/l10n/ResMessages.h"
#include "core/queue/AddFiles.h"
#include "core/queue/QueueCommands.h"
#include "core/queue/JobTexts.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sys/stat.h>

namespace quillo::cli {

void PrintError(const std::string& Text) {
    std::cerr << "quillo-cli: " << Printable(SingleLine(Text)) << std::endl;
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

// "--" ends the options: the words after it are operands even when they start with '-'. Removes
// "--" and what follows from args and returns what followed.
TArgs TakeOperands(TArgs& args) {
    const auto dashes = std::find(args.begin(), args.end(), std::string("--"));
    if (dashes == args.end())
        return {};
    TArgs operands(dashes + 1, args.end());
    args.erase(dashes, args.end());
    return operands;
}

// The words left after the options, then the operands after "--".
void AppendOperands(TArgs& args, const TArgs& operands) {
    args.insert(args.end(), operands.begin(), operands.end());
}

// A JSON object gets Key as text and, when the bytes are not UTF-8 (which a JSON string cannot
// carry), also Key + "Hex" with the exact bytes.
void PutBytes(QJsonObject& object, const QString& key, const std::string& bytes) {
    object.insert(key, Q(bytes));
    if (!IsValidUtf8(bytes))
        object.insert(key + QStringLiteral("Hex"),
                      QString::fromLatin1(QByteArray(bytes.data(), qsizetype(bytes.size())).toHex()));
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
    const TArgs operands = TakeOperands(args);
    json = TakeFlag(args, "--json");
    if (!RejectUnknownOptions(args))
        return false;
    AppendOperands(args, operands);
    if (!args.empty())
        PrintError(command + " takes no arguments but --json");
    return args.empty();
}

void PrintJson(const QJsonDocument& doc) {
    const QByteArray bytes = doc.toJson(QJsonDocument::Indented);
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

// Task numbers (1 = top; "3-5" ranges) or --all into ids; false with an error on bad input.
bool SelectTasks(const TUploadQueue& queue, TArgs args, std::vector<TJobId>& ids, bool& all) {
    const TArgs operands = TakeOperands(args);
    all = TakeFlag(args, "--all");
    if (!RejectUnknownOptions(args))
        return false;
    AppendOperands(args, operands);
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
        std::cout << Printable(DisplayName(f))
                  << "\n  download: " << Printable(GetValueOfKey("download-link", f.Result))
                  << "\n  delete:   " << Printable(GetValueOfKey("kill-link", f.Result)) << "\n";
    }
    std::cout.flush();
}

int CmdAdd(TCliContext& Ctx, const TArgs& Args) {
    TArgs args = Args;
    const TArgs operands = TakeOperands(args);
    std::string method, name;
    bool methodGiven = false, nameGiven = false;
    if (!TakeOption(args, "--method", method, methodGiven) || !TakeOption(args, "--name", name, nameGiven))
        return ecUsage;
    const bool delayed = TakeFlag(args, "--delayed");
    if (!RejectUnknownOptions(args))
        return ecUsage;
    AppendOperands(args, operands);
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
    if (nameGiven)
        if (const std::optional<std::string> problem = UploadNameProblem(name)) {
            PrintError("--name: " + *problem);
            return ecUsage;
        }

    // Paths stay the bytes they were given: a name that is not UTF-8 is found as it is.
    std::vector<std::string> paths;
    for (const std::string& a : args) {
        struct stat st {};
        if (::stat(a.c_str(), &st) != 0) {
            PrintError((errno == ENOENT ? std::string("no such file or folder: ")
                                        : std::string(std::strerror(errno)) + ": ") +
                       a);
            return ecUsage;
        }
        paths.push_back(AbsolutePath(a));
    }
    // The same file named twice (directly and through its folder) would become two tasks that
    // upload under the same name at once: the first mention is kept. Folders are listed sorted,
    // so that the order does not depend on the file system.
    TAddFilesOptions options;
    options.SortEachFolder = true;
    options.DropRepeatedPaths = true;
    TAddFilesPlan plan = PlanAddFiles(std::move(paths), Ctx.Queue, options);
    int result = ecOk;
    for (const TSkippedEntry& skipped : plan.Skipped) {
        const bool lost = skipped.Kind == skUnreadable || skipped.Kind == skFailed;
        PrintError((lost ? "could not add " : "skipped ") + skipped.Path + ": " + skipped.Reason);
        if (lost)
            result = ecNotAdded;
    }
    if (plan.Duplicates == dnTheFile || plan.Duplicates == dnAllTheFiles) {
        std::cout << SingleLine(
                         ResString(plan.Duplicates == dnTheFile ? rmFileAlreadyQueued : rmFilesAlreadyQueued))
                  << std::endl;
        return result;
    }
    if (plan.Duplicates == dnSome)
        std::cout << SingleLine(ResString(rmSomeFilesAlreadyQueued)) << std::endl;
    if (nameGiven && plan.Files.size() != 1) {
        PrintError("--name applies to a single file; several files keep their own names");
        return ecUsage;
    }

    const TAddFilesResult added = AddPlannedFiles(
        *Ctx.Scheduler, plan.Files, {Trim(name), method, delayed ? jsDelayed : jsQueued}, false);
    for (const TSkippedEntry& failed : added.Failed)
        PrintError(failed.Reason);
    if (!added.Failed.empty())
        result = ecNotAdded;
    UpdateSettings([&](TAppSettings& s) { s.General.LastUploadHost = method; });
    if (!added.Saved) {
        PrintError("the upload queue was not saved: the files are not added");
        return ecNotSaved;
    }
    std::cout << "Added " << added.Added << (added.Added == 1 ? " file" : " files") << " (" << method << ", "
              << (delayed ? "delayed" : "queued") << "). " << Ctx.Queue.QueueSummary() << " in the queue."
              << std::endl;
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
            QJsonObject task{{"number", qint64(i + 1)},    {"state", kStates[t.State]},
                             {"size", qint64(t.FileSize)}, {"method", Q(t.Method)},
                             {"status", Q(t.StatusText)},  {"resumeInfo", Q(t.ResumeInfo)}};
            PutBytes(task, QStringLiteral("file"), t.FileName);
            PutBytes(task, QStringLiteral("uploadName"), t.UploadName);
            list.append(task);
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
                    FormatThousands(t.FileSize).c_str(), Printable(t.Method).c_str(),
                    Printable(EffectiveUploadName(t)).c_str());
        if ((t.State == jsError || t.State == jsUploading) && !t.StatusText.empty())
            std::printf("     %s\n", Printable(SingleLine(t.StatusText)).c_str());
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
            QJsonObject record{{"number", qint64(i + 1)},
                               {"size", qint64(f.FileSize)},
                               {"method", Q(f.Method)},
                               {"startTime", Q(IsoTime(f.StartTime))},
                               {"endTime", Q(IsoTime(f.EndTime))},
                               {"downloadLink", Q(GetValueOfKey("download-link", f.Result))},
                               {"deleteLink", Q(GetValueOfKey("kill-link", f.Result))},
                               {"md5", Q(GetValueOfKey("MD5", f.Result))},
                               {"result", Q(f.Result)}};
            PutBytes(record, QStringLiteral("file"), f.FileName);
            PutBytes(record, QStringLiteral("uploadName"), f.UploadName);
            list.append(record);
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
                    FormatThousands(f.FileSize).c_str(), Printable(f.Method).c_str(),
                    Printable(DisplayName(f)).c_str());
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
    const std::size_t removed = DeleteSelectedTasks(*Ctx.Scheduler, ids);
    std::cout << "Removed " << removed << " tasks. " << Ctx.Queue.QueueSummary() << " in the queue."
              << std::endl;
    return ecOk;
}

} // namespace quillo::cli
