#include "ui/CompletionActions.h"

#include <QApplication>
#include <QCoreApplication>

#include <utility>
#ifdef QUILLO_HAVE_MULTIMEDIA
#include <QSoundEffect>
#include <QUrl>
#endif

namespace quillo {

namespace {

TSoundPlayer& InstalledPlayer() {
    static TSoundPlayer Player;
    return Player;
}

void PlayBuiltIn(const QString& Resource) {
#ifdef QUILLO_HAVE_MULTIMEDIA
    // One effect for the program's life: it keeps the decoded sound, and play() returns at once.
    static QSoundEffect* Effect = [&Resource] {
        auto* E = new QSoundEffect(qApp);
        E->setSource(QUrl(QStringLiteral("qrc") + Resource));
        return E;
    }();
    Effect->play();
#else
    Q_UNUSED(Resource);
    QApplication::beep();
#endif
}

} // namespace

void PlayFinishedSound() {
    const QString Resource = QString::fromLatin1(FinishedSoundResource);
    if (InstalledPlayer())
        InstalledPlayer()(Resource);
    else
        PlayBuiltIn(Resource);
}

TSoundPlayer SetSoundPlayer(TSoundPlayer Player) {
    return std::exchange(InstalledPlayer(), std::move(Player));
}

QString UploadsFinishedTitle() {
    return QCoreApplication::translate("TCompletionActions", "All uploads finished");
}

QString UploadsFinishedText(const TBatchCounts& Counts) {
    return QCoreApplication::translate("TCompletionActions", "%1 finished, %2 failed")
        .arg(Counts.Finished)
        .arg(Counts.Failed);
}

void TCompletionActions::InstallInto(TSchedulerHooks& Hooks, const TUploadQueue& Queue) {
    // Each hook keeps what it did before and then does ours.
    auto Chain = [](auto& Hook, auto Ours) {
        Hook = [Before = Hook, Ours](auto... Args) {
            if (Before)
                Before(Args...);
            Ours(Args...);
        };
    };
    Chain(Hooks.ThreadEvent,
          [this, &Queue](TJobId Task, TInternetThreadEvent Event) { ThreadEvent(Queue, Task, Event); });
    Chain(Hooks.BatchCompleted, [this] { BatchCompleted(); });
    Chain(Hooks.NotifyUploadFinished, [this] { NotifyUploadFinished(); });
    Chain(Hooks.ShutDown, [this](bool Stealth) { ShutDown(Stealth); });
}

void TCompletionActions::ThreadEvent(const TUploadQueue& Queue, TJobId Task, TInternetThreadEvent Event) {
    if (Event != ieFinished)
        return;
    const TUploadJobData* Record = Queue.FindTask(Task);
    if (!Record)
        return;
    if (Record->State == jsFinished)
        ++FCurrent.Finished;
    else if (Record->State == jsError)
        ++FCurrent.Failed;
}

void TCompletionActions::BatchCompleted() {
    FLastBatch = FCurrent;
    FCurrent = {};
}

void TCompletionActions::NotifyUploadFinished() {
    PlayFinishedSound();
    if (ShowNotification)
        ShowNotification(UploadsFinishedTitle(), UploadsFinishedText(FLastBatch));
}

void TCompletionActions::ShutDown(bool Stealth) {
    ShutDownWhenFinished(FOwner, Stealth, ShutDownOptions);
}

} // namespace quillo
