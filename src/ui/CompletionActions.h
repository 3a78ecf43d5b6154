#pragma once
// What the desktop program does when the upload queue has run dry: the completion sound, the
// "All uploads finished" notification with the batch's counts, and the automatic shutdown. The
// scheduler decides when (once per batch; the sound and the notification never in stealth
// mode); TCompletionActions does it. User-interface thread only.

#include "core/queue/Scheduler.h"
#include "ui/ShutDown.h"

#include <QString>

#include <functional>

class QWidget;

namespace quillo {

// The shipped completion sound (a Qt resource).
inline constexpr const char* FinishedSoundResource = ":/sounds/finished.wav";

// Plays the completion sound without waiting for it: through Qt Multimedia where the program
// was built with it, else the system beep. A player installed with SetSoundPlayer is used
// instead (tests count the calls).
void PlayFinishedSound();
using TSoundPlayer = std::function<void(const QString& Resource)>;
// Returns the player installed before; an empty one restores the built-in player.
TSoundPlayer SetSoundPlayer(TSoundPlayer Player);

// The tasks of one batch that ended while it ran.
struct TBatchCounts {
    int Finished = 0;
    int Failed = 0;
    bool operator==(const TBatchCounts&) const = default;
};
QString UploadsFinishedTitle();                          // "All uploads finished"
QString UploadsFinishedText(const TBatchCounts& Counts); // "3 finished, 1 failed"

class TCompletionActions final {
public:
    // Owner owns the countdown window.
    explicit TCompletionActions(QWidget* Owner) : FOwner(Owner) {}
    TCompletionActions(const TCompletionActions&) = delete;
    TCompletionActions& operator=(const TCompletionActions&) = delete;

    // How a notification reaches the user (the tray icon's message); empty: no notification,
    // as where no tray exists.
    std::function<void(const QString& Title, const QString& Text)> ShowNotification;
    // Passed to the countdown window (tests switch its timer off).
    TShutDownBoxOptions ShutDownOptions;

    // Adds the completion actions to the hooks of the scheduler that runs Queue, after what the
    // hooks already do (the main window brings itself back in NotifyUploadFinished first).
    // Queue and this object must outlive the scheduler.
    void InstallInto(TSchedulerHooks& Hooks, const TUploadQueue& Queue);

    // The hooks' parts, for owners that wire them by hand.
    void ThreadEvent(const TUploadQueue& Queue, TJobId Task, TInternetThreadEvent Event);
    void BatchCompleted();
    void NotifyUploadFinished();
    void ShutDown(bool Stealth);

private:
    QWidget* FOwner;
    TBatchCounts FCurrent;
    TBatchCounts FLastBatch;
};

} // namespace quillo
