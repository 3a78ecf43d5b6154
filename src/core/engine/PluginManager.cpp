#include "core/engine/PluginManager.h"

#include "core/engine/BrimvaultFtpUploader.h"
#include "core/engine/BrimvaultHttpUploader.h"

#include <mutex>
#include <stdexcept>

namespace quillo {

namespace {

// Filled once at start-up; the lock only keeps a careless late registration from corrupting it.
std::mutex gRegistryLock;
std::vector<TUploaderEntry>& Registry() {
    static std::vector<TUploaderEntry> Entries;
    return Entries;
}

} // namespace

void RegisterUploader(const std::string& Name, TUploaderClass UploaderClass) {
    std::lock_guard Lock(gRegistryLock);
    Registry().push_back({Name, std::move(UploaderClass)});
}

int UploaderCount() {
    std::lock_guard Lock(gRegistryLock);
    return static_cast<int>(Registry().size());
}

const TUploaderEntry& UploaderEntry(int Index) {
    std::lock_guard Lock(gRegistryLock);
    if (Index < 0 || static_cast<size_t>(Index) >= Registry().size())
        throw std::out_of_range("No upload method at index " + std::to_string(Index));
    return Registry()[static_cast<size_t>(Index)];
}

std::vector<std::string> UploaderNames() {
    std::lock_guard Lock(gRegistryLock);
    std::vector<std::string> Names;
    for (const TUploaderEntry& Entry : Registry())
        Names.push_back(Entry.Name);
    return Names;
}

std::unique_ptr<TUploader> CreateUploader(const std::string& Name, void* Data,
                                          TInternetThreadEventHandler OnEvent) {
    TUploaderClass Class;
    {
        std::lock_guard Lock(gRegistryLock);
        for (const TUploaderEntry& Entry : Registry()) {
            if (Entry.Name == Name) {
                Class = Entry.UploaderClass;
                break;
            }
        }
    }
    if (!Class)
        return nullptr;
    return Class(Data, std::move(OnEvent));
}

void UnregisterAllUploaders() {
    std::lock_guard Lock(gRegistryLock);
    Registry().clear();
}

void RegisterBuiltinUploaders() {
    if (UploaderCount() != 0)
        return;
    RegisterUploader(HttpMethodName, UploaderClassOf<TBrimvaultHttpUploader>());
    RegisterUploader(FtpMethodName, UploaderClassOf<TBrimvaultFtpUploader>());
}

} // namespace quillo
