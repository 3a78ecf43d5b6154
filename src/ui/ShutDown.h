#pragma once
// ShutDown: turning the computer off when the upload queue has run dry. TShutDownBox is the
// 20-second countdown the user can cancel; ShutDownComputer asks the system to power off (or to
// hibernate, with the Hibernate setting on). User-interface thread only.

#include "ui/FormBase.h"

#include <QDialog>
#include <QStringList>

#include <cstdint>

class QLabel;
class QPushButton;
class QTimer;

namespace quillo {

// Flags as the shutdown request carries them (and QUILLO_SHUTDOWN_COMMAND receives them).
inline constexpr uint32_t ewxShutdown = 1;
inline constexpr uint32_t ewxForce = 4;
inline constexpr uint32_t ewxPowerOff = 8;
inline constexpr uint32_t ewxForceIfHung = 16;
// The end of the countdown and stealth mode: nobody is asked.
inline constexpr uint32_t ShutDownUnattended = ewxShutdown | ewxForce | ewxPowerOff; // 13
// "Shut Down Now": the user is there.
inline constexpr uint32_t ShutDownByUser = ewxShutdown | ewxPowerOff | ewxForceIfHung; // 25

// Asks systemd-logind over the system D-Bus to power off, or to hibernate when
// General.Hibernate is on; true when logind accepted the request. Without ewxForce the request
// is interactive (the system may ask the user to authorize it). When QUILLO_SHUTDOWN_COMMAND is
// set and not blank, that command line (split by SplitCommandLine, no shell involved) is run
// instead with two more arguments, the flags in decimal and "poweroff" or "hibernate"; true
// when it exits with 0. Waits for the command (at most 30 seconds) while serving the event loop.
// Failures are silent: the caller goes on either way.
bool ShutDownComputer(uint32_t Flags);

// Splits a command line into words as a POSIX shell does, without expansions: blanks separate
// words, '...' is literal, "..." keeps its text with \ escaping \ " $ and `, and a \ outside
// quotes escapes the next character. False (and no words) for an unterminated quote or no word.
bool SplitCommandLine(const QString& CommandLine, QStringList& Words);

struct TShutDownBoxOptions {
    // Run Timer1 every second. Tests switch it off and call Timer1Timer themselves.
    bool RunTimer = true;
};

class TShutDownBox final : public TFormBase<QDialog> {
    Q_OBJECT
public:
    static constexpr int DesignedWidth = 313;
    static constexpr int DesignedHeight = 198;

    explicit TShutDownBox(QWidget* Owner = nullptr, TShutDownBoxOptions Options = {});

    // Seconds left; 20 at creation.
    int32_t FCounter = 20;

    // Every second: one second less, or at 0 the shutdown (ShutDownUnattended) and the window
    // closes with OK.
    void Timer1Timer();
    // "Shut Down Now": the shutdown (ShutDownByUser); the button then closes the window with OK.
    void Button1Click();

    QLabel* Image2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QTimer* Timer1 = nullptr;

protected:
    void CreateWidgets() override;
    void FormCreate() override;
    void showEvent(QShowEvent* Event) override;

private:
    void FormShow();
    TShutDownBoxOptions FOptions;
};

// The scheduler's hook when the queue has run dry with ShutDownWhenFinished on: in stealth mode
// the shutdown is requested at once (ShutDownUnattended) without a window; otherwise the
// countdown window is shown modally with Owner as its owner and freed when it closes. Cancel
// leaves everything as it was, so the next emptied queue shows the countdown again.
void ShutDownWhenFinished(QWidget* Owner, bool Stealth, TShutDownBoxOptions Options = {});

} // namespace quillo
