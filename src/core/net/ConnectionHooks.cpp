#include "core/net/ConnectionHooks.h"

#include <algorithm>

namespace quillo {

TConnectionIntercept::~TConnectionIntercept() {
    std::lock_guard<std::mutex> Guard(FHostsLock);
    for (TInterceptHost* Host : FHosts)
        Host->FIntercept = nullptr;
    FHosts.clear();
}

TInterceptHost::~TInterceptHost() {
    SetIntercept(nullptr);
}

void TInterceptHost::SetIntercept(TConnectionIntercept* Intercept) {
    if (Intercept == FIntercept)
        return;
    if (FIntercept) {
        std::lock_guard<std::mutex> Guard(FIntercept->FHostsLock);
        auto& Hosts = FIntercept->FHosts;
        Hosts.erase(std::remove(Hosts.begin(), Hosts.end(), this), Hosts.end());
    }
    FIntercept = Intercept;
    if (Intercept) {
        std::lock_guard<std::mutex> Guard(Intercept->FHostsLock);
        Intercept->FHosts.push_back(this);
    }
}

void TInterceptHost::InterceptConnected() {
    if (FIntercept)
        FIntercept->Connected();
}

void TInterceptHost::InterceptSend(const void* Buffer, int64_t Size) {
    if (FIntercept && Size > 0)
        FIntercept->Send(Buffer, Size);
}

void TInterceptHost::InterceptReceive(const void* Buffer, int64_t Size) {
    if (FIntercept && Size > 0)
        FIntercept->Receive(Buffer, Size);
}

} // namespace quillo
