#pragma once
// An intercept that counts what a connection reports to it.

#include "core/net/ConnectionHooks.h"

namespace quillo::test {

class TRecordingIntercept final : public TConnectionIntercept {
public:
    void Connected() override { ++Connects; }
    void Send(const void*, int64_t Size) override { Sent += Size; }
    void Receive(const void*, int64_t Size) override { Received += Size; }
    int Connects = 0;
    int64_t Sent = 0, Received = 0;
};

} // namespace quillo::test
