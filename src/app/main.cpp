// Program entry: one instance per user, settings, then the main window and the event loop.
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "core/app/DataFolder.h"
#include "core/app/EXEUtils.h"
#include "core/app/Settings.h"
#include "core/engine/PluginManager.h"
#include "core/l10n/Localizer.h"
#include "core/l10n/ResMessages.h"
#include "ui/ApplicationEvents.h"
#include "ui/ApplicationStyle.h"
#include "ui/FrmLanguages.h"
#include "ui/LanguageTemplate.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QPointer>
#include <QStringList>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

using namespace quillo;

namespace {

const char* const kUsage = R"(Usage: quillo [-m] [--home DIR] [--] [FILE...]

Starts Quillo Uploader, or brings the Quillo that already runs for this user to the front.
Files named are added to the upload queue of the running Quillo (or of the one this starts);
the properties dialog asks how to upload them.

Options:
  -m                  start in the tray without showing the window (first argument only)
  --home DIR          data folder (default: QUILLO_HOME, else $XDG_CONFIG_HOME/quillo)
  --write-language-template FILE
                      write the translators' language template to FILE and end
  -h, --help          this text
  --version           the program's version

"--" ends the options: the words after it are files even if they start with "-".
)";

struct TCommandLine {
    std::string Home;             // "--home DIR"
    bool StartHidden = false;     // first argument "-m" in any case
    std::string LanguageTemplate; // "--write-language-template FILE"
    bool Help = false;
    bool Version = false;
    std::vector<std::string> Files; // the words that are not options, as given
};

// "--home DIR" may stand anywhere and is taken out first; of the rest only the first argument
// decides about "-m". Other words starting with "-" are ignored, the remaining ones are files.
TCommandLine ParseCommandLine(int argc, char** argv) {
    TCommandLine result;
    std::vector<std::string> rest;
    bool filesOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (filesOnly)
            result.Files.push_back(arg);
        else if (arg == "--")
            filesOnly = true;
        else if (arg == "--home" && i + 1 < argc)
            result.Home = argv[++i];
        else if (arg.rfind("--home=", 0) == 0)
            result.Home = arg.substr(7);
        else if (arg == "--write-language-template" && i + 1 < argc)
            result.LanguageTemplate = argv[++i];
        else if (arg == "-h" || arg == "--help")
            result.Help = true;
        else if (arg == "--version")
            result.Version = true;
        else {
            if (arg.size() < 2 || arg.front() != '-')
                result.Files.push_back(arg);
            rest.push_back(arg);
        }
    }
    result.StartHidden = !rest.empty() && (rest.front() == "-m" || rest.front() == "-M");
    return result;
}

// The files named on the command line as absolute paths, resolved against the folder the
// program was started from (the running instance has a folder of its own). Names that do not
// exist are reported here, where the starter sees it, and left out.
std::vector<std::string> AbsoluteExistingFiles(const std::vector<std::string>& Names) {
    std::vector<std::string> result;
    for (const std::string& name : Names) {
        std::error_code error;
        std::filesystem::path path =
            name.empty() ? std::filesystem::path() : std::filesystem::absolute(name, error);
        if (name.empty() || error || !std::filesystem::exists(path, error)) {
            std::fprintf(stderr, "quillo: %s: no such file or folder\n", name.c_str());
            continue;
        }
        // "." steps go; ".." ones stay, since a symbolic link before them decides where they lead.
        bool hasParentStep = false;
        for (const auto& part : path)
            hasParentStep = hasParentStep || part == "..";
        if (!hasParentStep)
            path = path.lexically_normal();
        result.push_back(path.string());
    }
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

// Test hook: records Line once Widget has been painted for the first time. The line is queued
// behind the paint, so it also follows the window's flush to the screen: what a user sees.
class TFirstPaintReport final : public QObject {
public:
    TFirstPaintReport(QWidget* Widget, QString Line) : QObject(Widget), FLine(std::move(Line)) {
        Widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Event->type() == QEvent::Paint) {
            Watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                RecordTestEvent(FLine);
                deleteLater();
            });
        }
        return false;
    }

private:
    QString FLine;
};

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
    if (commandLine.Help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (commandLine.Version) {
        std::fputs(VersionText("quillo").c_str(), stdout);
        return 0;
    }
    const std::vector<std::string> files = AbsoluteExistingFiles(commandLine.Files);
    RegisterBuiltinUploaders();
    if (!commandLine.LanguageTemplate.empty())
        return WriteTemplate(argc, argv, commandLine.LanguageTemplate);

    // Before anything else: a second start wakes the first and ends without touching any file.
    TSingleInstance instance;
    const TSingleInstance::TAcquireResult lock = instance.Acquire();
    if (lock == TSingleInstance::arAlreadyRuns && !files.empty()) {
        if (instance.SendFiles(files))
            return 0;
        std::fputs("quillo: another Quillo is running for this user; it did not take the files.\n", stderr);
        return 1;
    }
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
    // Names the installed desktop entry, so that a Wayland desktop shows its name and icon.
    QApplication::setDesktopFileName(QStringLiteral("org.quillo.Quillo"));
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

    // Files from the command line or a later start: added through the properties dialog, above
    // every window when the main window is out of sight; after OK the window comes up.
    const auto addFiles = [window](const std::vector<std::string>& Paths) {
        if (!window)
            return;
        QStringList names;
        for (const std::string& path : Paths)
            names << QString::fromStdString(path);
        RecordTestEvent(QStringLiteral("add-files %1").arg(names.join(QLatin1Char('|'))));
        if (window->FAddFiles && window->FAddFiles(Paths, !window->ApplicationVisible()) && window) {
            window->HandleShowRequest(0);
            if (window->ApplicationVisible())
                window->ShowApplication(true);
        }
    };
    if (lock == TSingleInstance::arFirst) {
        instance.Listen(
            [window](int WParam) {
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
            },
            addFiles);
    }
    // Queued after the window's own first step, so it reports how the start left the window.
    QTimer::singleShot(0, mainWindow, [mainWindow] {
        RecordTestEvent(QStringLiteral("ready visible=%1").arg(mainWindow->ApplicationVisible() ? 1 : 0));
        RecordTestEvent(
            QStringLiteral("languages-folder %1").arg(QString::fromStdString(InstalledLanguageFolder())));
    });
    if (qEnvironmentVariableIsSet("QUILLO_TEST_EVENTS"))
        new TFirstPaintReport(mainWindow->ListViewUploadJobs->viewport(), QStringLiteral("painted tasks"));
    if (!files.empty())
        QTimer::singleShot(0, mainWindow, [addFiles, files] { addFiles(files); });

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
