#pragma once
// The last resort for exceptions on the user-interface thread. Qt cannot carry an exception
// through its event loop, so TApplication catches every exception that escapes the handling of
// an event (a click, a key, a timer, a queued call) and hands it to the installed handler; the
// main window writes it into its red error report and the program goes on.

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>
#include <string>

namespace quillo {

// Sender: the object in whose handling the exception arose (see ResponsibleObject). Returns
// false when nobody takes it (the window is gone): the line then goes to the standard error
// stream.
using TApplicationExceptionHandler = std::function<bool(QObject* Sender, std::exception_ptr Error)>;

// Installs the handler (an empty one removes it); returns the one it replaces.
TApplicationExceptionHandler SetApplicationExceptionHandler(TApplicationExceptionHandler Handler);

class TApplication final : public QApplication {
    Q_OBJECT
public:
    TApplication(int& Argc, char** Argv);
    bool notify(QObject* Receiver, QEvent* Event) override;
};

// The object to name for an exception raised while Receiver handled an event: the nearest of
// Receiver and its parents that is one of the program's own classes (a click on a button of the
// main window names TMainWindow); Receiver itself when none is.
QObject* ResponsibleObject(QObject* Receiver);

// Class names as the program spells them: without namespaces, never mangled
// ("quillo::TMainWindow" -> "TMainWindow", "std::runtime_error" -> "runtime_error").
std::string UnqualifiedClassName(const std::string& Name);
std::string ObjectClassName(const QObject* Object);
// The dynamic class of the exception and its message (empty for one that is no std::exception).
std::string ExceptionClassName(std::exception_ptr Error);
std::string ExceptionMessage(std::exception_ptr Error);

// "Sender -> EClass: message", one line (line ends in the message become blanks).
QString UnhandledErrorLine(const QObject* Sender, std::exception_ptr Error);

} // namespace quillo
