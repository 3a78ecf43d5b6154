// Program entry: one instance per user, settings, then the main window and the event loop.
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "core/app/DataFolder.h"
#include "core/app/Settings.h"
#include "core/engine/PluginManager.h"
#include "core/l10n/ResMessages.h"
#include "ui/ApplicationEvents.h"
#include "ui/ApplicationStyle.h"
#include "ui/FrmLanguages.h"
#include "ui/LanguageTemplate.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace quillo;

namespace {

struct TCommandLine {
    std::string Home;             // "--home DIR"
    bool StartHidden = false;     // first argument "-m" in any case
    std::string LanguageTemplate; // "--write-language-template FILE"
};

// "--home DIR" may stand anywhere and is taken out first; of the rest only the first argument
// counts.
TCommandLine ParseCommandLine(int argc, char** argv) {
    TCommandLine result;
    std::vector<std::string> rest;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--home" && i + 1 < argc)
            result.Home = argv[++i];
        else if (arg.rfind("--home=", 0) == 0)
            result.Home = arg.substr(7);
        else if (arg == "--write-language-template" && i + 1 < argc)
            result.LanguageTemplate = argv[++i];
        else
            rest.push_back(arg);
    }
    result.StartHidden = !rest.empty() && (rest.front() == "-m" || rest.front() == "-M");
    return result;
}

// Test hook: with QUILLO_TEST_EVENTS naming a file, the running instance appends one line per
// observable step, so that a test driving the real program can follow it.
void RecordTestEvent(const QString& Line) {
    const char* path = std::getenv("QUILLO_TEST_EVENTS");
    if (!path || !*path)
        return;
    QFile file(QString::fromLocal8Bit(path));
    if (file.open(QIODevice::Append | QIODevice::Text))
        file.write((Line + QLatin1Char('\n')).toUtf8());
}

// The translators' template: the windows are built offscreen on a throw-away data folder with the
// default settings, so neither the user's files nor a running Quillo are touched.
int WriteTemplate(int argc, char** argv, const std::string& File) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QTemporaryDir home;
    SetDataFolderOverride(home.path().toStdString());
    QApplication app(argc, argv);
    QString error;
    if (!WriteLanguageTemplate(QString::fromLocal8Bit(File.c_str()), error)) {
        std::fprintf(stderr, "quillo: cannot write the language template %s: %s\n", File.c_str(),
                     qPrintable(error));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const TCommandLine commandLine = ParseCommandLine(argc, argv);
    RegisterBuiltinUploaders();
    if (!commandLine.LanguageTemplate.empty())
        return WriteTemplate(argc, argv, commandLine.LanguageTemplate);

    // Before anything else: a second start wakes the first and ends without touching any file.
    TSingleInstance instance;
    const TSingleInstance::TAcquireResult lock = instance.Acquire();
    if (lock == TSingleInstance::arAlreadyRuns) {
        // Nobody answering means the other one is still starting, or is the headless front end
        // (which shares the lock): say so where a starter from a terminal can see it.
        if (!instance.SendShowRequest(0))
            std::fputs("quillo: another Quillo is running for this user; it did not answer.\n", stderr);
        return 0;
    }

    // Relative to where the program was started, whatever the program does later.
    if (!commandLine.Home.empty())
        SetDataFolderOverride(std::filesystem::absolute(commandLine.Home).lexically_normal().string());

    // Exceptions that escape an event handler go to the window's error report.
    TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quillo"));
    // The window closes for good only through the close sequence, never by hiding the last one.
    QApplication::setQuitOnLastWindowClosed(false);
    InstallApplicationStyle();

    LoadSettings();
    SetServiceDomainForMessages(SiteHost());
    // Before any window exists, so that every window comes up in the chosen language.
    SetUpLanguages();
    ApplyLanguage();

    auto* mainWindow = new TMainWindow(TMainWindowStart{commandLine.StartHidden});
    mainWindow->setAttribute(Qt::WA_DeleteOnClose);
    mainWindow->SetInstanceLockRelease([&instance] { instance.Release(); });
    QObject::connect(mainWindow, &QObject::destroyed, &app, &QCoreApplication::quit);
    const QPointer<TMainWindow> window(mainWindow);

    if (lock == TSingleInstance::arFirst) {
        instance.Listen([window](int WParam) {
            if (!window)
                return;
            const bool wasVisible = window->ApplicationVisible();
            window->HandleShowRequest(WParam);
            // The starter cannot bring another process to the front; the window does it itself.
            if (WParam == 0 && window->ApplicationVisible())
                window->ShowApplication(true);
            RecordTestEvent(QStringLiteral("show-request %1 was-visible=%2 visible=%3")
                                .arg(WParam)
                                .arg(wasVisible ? 1 : 0)
                                .arg(window->ApplicationVisible() ? 1 : 0));
        });
    }
    // Queued after the window's own first step, so it reports how the start left the window.
    QTimer::singleShot(0, mainWindow, [mainWindow] {
        RecordTestEvent(QStringLiteral("ready visible=%1").arg(mainWindow->ApplicationVisible() ? 1 : 0));
    });

    // Asked to end from outside: the close steps without the question (nobody can answer it).
    // quit() also ends a dialog's loop that may be running; the window goes once every loop has
    // unwound.
    InstallTerminationHandler([&] {
        if (window)
            window->HandleEndSession(true, false);
        instance.Release();
        QCoreApplication::quit();
    });

    const int exitCode = app.exec();
    delete window;
    instance.Release();
    return exitCode;
}
