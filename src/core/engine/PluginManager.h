#pragma once
// The registry of upload methods: display name ("HTTP Method", "FTP Method") -> a factory that
// makes a parked uploader of that method. One process-wide list in registration order, filled at
// start-up (RegisterBuiltinUploaders) before any window exists and read-only afterwards; lookups
// are exact and case-sensitive.

#include "core/engine/Uploader.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillo {

// Makes a new uploader, parked, with the task reference and the event handler.
using TUploaderClass =
    std::function<std::unique_ptr<TUploader>(void* Data, TInternetThreadEventHandler OnEvent)>;

struct TUploaderEntry {
    std::string Name;
    TUploaderClass UploaderClass;
};

// The factory of an uploader class constructible from (Data, OnEvent).
template <class T> TUploaderClass UploaderClassOf() {
    return [](void* Data, TInternetThreadEventHandler OnEvent) -> std::unique_ptr<TUploader> {
        return std::make_unique<T>(Data, std::move(OnEvent));
    };
}

// Appends an entry (a later entry of the same name is never found).
void RegisterUploader(const std::string& Name, TUploaderClass UploaderClass);
int UploaderCount();
// Entry by index in registration order (0-based); raises std::out_of_range.
const TUploaderEntry& UploaderEntry(int Index);
// The registered names in registration order.
std::vector<std::string> UploaderNames();
// A new uploader of the first entry whose name equals Name byte for byte, or nullptr.
std::unique_ptr<TUploader> CreateUploader(const std::string& Name, void* Data,
                                          TInternetThreadEventHandler OnEvent);
// Empties the registry (program exit; tests).
void UnregisterAllUploaders();

inline constexpr const char* HttpMethodName = "HTTP Method";
inline constexpr const char* FtpMethodName = "FTP Method";

// Program start-up: registers "HTTP Method" (TBrimvaultHttpUploader) and then "FTP Method"
// (TBrimvaultFtpUploader). Does nothing when the registry is not empty, so a second call cannot
// duplicate the entries.
void RegisterBuiltinUploaders();

} // namespace quillo
