#pragma once
// A boss-key grabber without a display: it records what the window grabs and answers as told.

#include "ui/HotKeyGrab.h"

#include <utility>
#include <vector>

namespace quillo::test {

struct TGrabLog {
    bool Succeeds = true;
    bool Available = true;
    std::vector<std::pair<int, int>> Grabs; // modifiers, key
    int Releases = 0;
    THotKeyGrabber* Live = nullptr; // the grabber of the window that exists now
};

class TFakeGrabber final : public THotKeyGrabber {
public:
    explicit TFakeGrabber(TGrabLog& Log) : FLog(Log) { FLog.Live = this; }
    ~TFakeGrabber() override {
        ++FLog.Releases;
        if (FLog.Live == this)
            FLog.Live = nullptr;
    }
    bool Available() const override { return FLog.Available; }
    bool Grab(uint8_t Modifiers, uint8_t Key) override {
        FLog.Grabs.emplace_back(Modifiers, Key);
        return FLog.Available && FLog.Succeeds;
    }
    void Release() override { ++FLog.Releases; }

private:
    TGrabLog& FLog;
};

} // namespace quillo::test
