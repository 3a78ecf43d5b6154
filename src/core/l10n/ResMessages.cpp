#include "core/l10n/ResMessages.h"

#include <atomic>
#include <mutex>
#include <unordered_map>

namespace quillo {

namespace {

const std::unordered_map<int, const char*>& Builtins() {
    static const std::unordered_map<int, const char*> table = {
        {65008, "Upload speed: %s KB/sec"},
        {65009, "Computer will be hibernated when finished."},
        {65010, "Computer will be shut down when finished."},
        {65011, "%.0n files (%.0n MB)"},
        {65012, "No files"},
        {65024, "Add Files to Upload"},
        {65025, "Date: %s\r\nFile: %s\r\nDownload: %s\r\nKill: %s"},
        {65026, "File"},
        {65027, "upload as"},
        {65028, "Description"},
        {65029, "uploaded as"},
        {65030, "uploaded to"},
        {65031, "to"},
        {65032, "Download Link"},
        {65033, "Delete Link"},
        {65034, "MD5-hash"},
        {65035, "All files (*.*)|*.*|Rar files|*.rar|Zip files|*.zip|DivX video|*.avi|MP3 files|*.mp3"},
        {65036, "Idle."},
        {65037, "Scheduled to start at %s and to stop at %s."},
        {65038, "Uploading..."},
        {65039, "Scheduled to stop at %s."},
        {65040, "Starting..."},
        {65041, "Queued"},
        {65042, "Delayed"},
        {65043, "Uploading (%d%%)"},
        {65044, "Finished"},
        {65045, "ERROR"},
        {65046, "Batch script"},
        {65047, "Text file"},
        {65048, "This will abort all upload tasks in progress.\r\nAre you sure ?"},
        {65049, "There are some upload tasks in progress.\r\nClosing now will abort them. Do you want to "
                "close anyway ?"},
        {65050, "Uploading file (%s / %s Bytes)..."},
        {65051, "You need to setup Brimvault account in the Settings to use FTP Method !"},
        {65052, "There is a newer version available. Would you like to update ?"},
        {65053, "Your version is up to date."},
        {65054, "Save Batch Script As"},
        {65055, "Export Links As"},
        {65056, "Information"},
        {65057, "Confirmation"},
        {65058, "Upload Task Properties"},
        {65059, "File Name: %s\r\nFile size: %s Bytes"},
        {65060, "Upload Tasks Properties"},
        {65061, "Multiple files properties\r\nSelected: %s files"},
        {65062, "New Upload Task Properties"},
        {65064, "New Upload Tasks Properties"},
        {65065, "Upload %s files\r\nTotal size: %.2n MB"},
        {65066, "Upload failed because the program was improperly terminated"},
        {65067, "The file you want to add is already in the upload queue"},
        {65068, "The files you want to add are already in the upload queue"},
        {65069, "Some of the files you want to add are already in the upload queue.\r\nDuplicated files "
                "are automatically removed"},
        {65070, "Are you sure to delete selected upload tasks ?"},
        {65071, "Are you sure to delete selected finished task(s) ?"},
        {65074, "No download link"},
        {65075, "No upload server available"},
        {65076, "This file is too big. Max file size is %.0n MB. Use WinRAR to split big files."},
        {65077, "You can't upload files as anonymous user."},
        {65078, "Looking for free upload server..."},
        {65079, "Logging in..."},
        {65080, "Upload stopped. You can resume this upload."},
        {65081, "Upload finished. Calculating MD5.."},
        {65082, "Commiting uploaded file..."},
        {65083, "Uploading file..."},
        {65084, "Uploader for "},
        {65085, "Upload Queue"},
        {65086, "Finished"},
        {65087, "Error"},
    };
    return table;
}

std::mutex gTableMutex;
std::shared_ptr<const TResStringList> gTable;
std::atomic<bool> gActive{true};
std::string gServiceDomain = "brimvault.com";

} // namespace

bool IsProgramMessage(int id) {
    return Builtins().count(id) != 0;
}

std::string BuiltinResText(int id) {
    const auto it = Builtins().find(id);
    return it == Builtins().end() ? std::string() : std::string(it->second);
}

namespace {

// Message 65084 names the service, whose domain the program adds to the text of either language.
std::string WithDomain(int id, std::string Text) {
    if (id != rmUploaderFor)
        return Text;
    std::lock_guard lock(gTableMutex);
    return Text + gServiceDomain;
}

} // namespace

std::string BuiltinResString(int id) {
    return WithDomain(id, BuiltinResText(id));
}

std::string ResString(int id) {
    if (gActive.load(std::memory_order_acquire)) {
        if (const auto list = CurrentResStringList()) {
            std::string text;
            if (FindResourceString(*list, id, text))
                return WithDomain(id, std::move(text));
        }
    }
    return BuiltinResString(id);
}

QString ResQString(int id) {
    return QString::fromStdString(ResString(id));
}

bool FindResourceString(const TResStringList& List, int Number, std::string& Text) {
    if (List.empty())
        return false;
    std::size_t lower = 0, upper = List.size() - 1;
    while (lower < upper) {
        const std::size_t middle = (lower + upper) / 2;
        if (List[middle].Number < Number)
            lower = middle + 1;
        else
            upper = middle;
    }
    if (List[lower].Number != Number)
        return false;
    Text = List[lower].Text;
    return true;
}

void SetResStringList(std::shared_ptr<const TResStringList> List) {
    std::lock_guard lock(gTableMutex);
    gTable = std::move(List);
}

std::shared_ptr<const TResStringList> CurrentResStringList() {
    std::lock_guard lock(gTableMutex);
    return gTable;
}

void SetResStringTable(std::shared_ptr<const TResStringTable> table) {
    if (!table) {
        SetResStringList(nullptr);
        return;
    }
    auto list = std::make_shared<TResStringList>();
    for (const auto& [number, text] : *table)
        list->push_back({number, text});
    SetResStringList(std::move(list));
}

void SetResStringTranslationActive(bool active) {
    gActive.store(active, std::memory_order_release);
}
bool ResStringTranslationActive() {
    return gActive.load(std::memory_order_acquire);
}

void SetServiceDomainForMessages(const std::string& domain) {
    std::lock_guard lock(gTableMutex);
    gServiceDomain = domain;
}

} // namespace quillo
