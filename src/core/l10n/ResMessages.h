#pragma once
// The program's numbered messages. Every user-visible message is fetched by its number at the
// moment of use through ResString(), so that a language file can replace it. Safe to call from
// any thread: the translation table is swapped atomically by the user-interface thread.

#include <QString>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quillo {

enum TResMessage : int {
    rmUploadSpeed = 65008, // "Upload speed: %s KB/sec"
    rmWillHibernate = 65009,
    rmWillShutDown = 65010,
    rmQueueSummary = 65011, // "%.0n files (%.0n MB)"
    rmNoFiles = 65012,
    rmAddFilesCaption = 65024,
    rmFinishedDetails = 65025,
    rmDetailFile = 65026,
    rmDetailUploadAs = 65027,
    rmDetailDescription = 65028,
    rmDetailUploadedAs = 65029,
    rmDetailUploadedTo = 65030,
    rmDetailTo = 65031,
    rmDetailDownloadLink = 65032,
    rmDetailDeleteLink = 65033,
    rmDetailMD5 = 65034,
    rmAddFilesFilter = 65035,
    rmIdle = 65036,
    rmScheduledStartStop = 65037,
    rmUploading = 65038,
    rmScheduledStop = 65039,
    rmStarting = 65040,
    rmStateQueued = 65041,
    rmStateDelayed = 65042,
    rmStateUploadingPercent = 65043,
    rmStateFinished = 65044,
    rmStateError = 65045,
    rmBatchScript = 65046,
    rmTextFile = 65047,
    rmConfirmStopAll = 65048,
    rmConfirmClose = 65049,
    rmUploadingFileBytes = 65050,
    rmNeedAccountForFtp = 65051,
    rmNewerVersion = 65052,
    rmVersionUpToDate = 65053,
    rmSaveBatchCaption = 65054,
    rmExportLinksCaption = 65055,
    rmInformation = 65056,
    rmConfirmation = 65057,
    rmTaskPropsCaption = 65058,
    rmTaskPropsFile = 65059,
    rmTasksPropsCaption = 65060,
    rmTasksPropsMultiple = 65061,
    rmNewTaskPropsCaption = 65062,
    rmNewTasksPropsCaption = 65064,
    rmNewTasksPropsSummary = 65065,
    rmImproperlyTerminated = 65066,
    rmFileAlreadyQueued = 65067,
    rmFilesAlreadyQueued = 65068,
    rmSomeFilesAlreadyQueued = 65069,
    rmConfirmDeleteTasks = 65070,
    rmConfirmDeleteFinished = 65071,
    rmNoDownloadLink = 65074,
    rmNoUploadServer = 65075,
    rmFileTooBig = 65076,
    rmNoAnonymousUpload = 65077,
    rmLookingForServer = 65078,
    rmLoggingIn = 65079,
    rmUploadStoppedResumable = 65080,
    rmCalculatingMD5 = 65081,
    rmCommitting = 65082,
    rmUploadingFile = 65083,
    rmUploaderFor = 65084,
    rmNodeUploadQueue = 65085,
    rmNodeFinished = 65086,
    rmError = 65087,
};

// The translations of a language file, in the order of the file (UTF-8 texts). Looked up by a
// binary search over that order, so a file must list its numbers ascending: of a descending list
// most numbers are not found.
struct TResStringEntry {
    int Number = 0;
    std::string Text;
};
using TResStringList = std::vector<TResStringEntry>;

// A translation table by number, for callers that build one in code (kept ascending).
using TResStringTable = std::map<int, std::string>;

// The text of message `id`: the active translation when the table holds the number, the
// built-in English text otherwise. Unknown numbers give an empty text. UTF-8 bytes.
std::string ResString(int id);
QString ResQString(int id);

// The built-in English text, ignoring any translation.
std::string BuiltinResString(int id);
// The built-in text as a translator sees it: message 65084 without the domain the program adds
// to it (also to its translation).
std::string BuiltinResText(int id);

// Whether `id` is one of the program's own message numbers.
bool IsProgramMessage(int id);

// The lower-bound binary search over the list's order: true, with the text, when the entry it
// lands on carries Number.
bool FindResourceString(const TResStringList& List, int Number, std::string& Text);

// Installs (or, with nullptr, removes) the translation list. Called on the user-interface
// thread; lookups running on worker threads at the same time see either list, never a mix.
void SetResStringList(std::shared_ptr<const TResStringList> List);
std::shared_ptr<const TResStringList> CurrentResStringList();
// The same from a table by number.
void SetResStringTable(std::shared_ptr<const TResStringTable> table);

// Switches translation on or off without dropping the table.
void SetResStringTranslationActive(bool active);
bool ResStringTranslationActive();

// The service's web domain, which message 65084 ends with.
void SetServiceDomainForMessages(const std::string& domain);

} // namespace quillo
