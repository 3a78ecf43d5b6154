#include "ui/ApplicationEvents.h"

#include <QMetaObject>

#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#include <string_view>
#include <typeinfo>
#include <utility>

namespace quillo {

namespace {

TApplicationExceptionHandler& Handler() {
    static TApplicationExceptionHandler handler;
    return handler;
}

std::string Demangled(const char* Mangled) {
    if (!Mangled)
        return "unknown";
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(Mangled, nullptr, nullptr, &status),
                                                std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(Mangled);
}

bool IsProgramClass(const QObject* Object) {
    const char* name = Object->metaObject()->className();
    return std::string_view(name).rfind("quillo::", 0) == 0;
}

// Hands Error to the installed handler; its line goes to the standard error stream when nobody
// takes it.
void ReportUnhandledException(QObject* Receiver, std::exception_ptr Error) {
    QObject* sender = ResponsibleObject(Receiver);
    try {
        if (Handler() && Handler()(sender, Error))
            return;
    } catch (...) {
        // The report itself failed: the original error still gets its line below.
    }
    std::fprintf(stderr, "quillo: unhandled error: %s\n", qPrintable(UnhandledErrorLine(sender, Error)));
}

} // namespace

TApplicationExceptionHandler SetApplicationExceptionHandler(TApplicationExceptionHandler NewHandler) {
    return std::exchange(Handler(), std::move(NewHandler));
}

TApplication::TApplication(int& Argc, char** Argv) : QApplication(Argc, Argv) {}

bool TApplication::notify(QObject* Receiver, QEvent* Event) {
    try {
        return QApplication::notify(Receiver, Event);
    } catch (...) {
        ReportUnhandledException(Receiver, std::current_exception());
        return false;
    }
}

QObject* ResponsibleObject(QObject* Receiver) {
    for (QObject* o = Receiver; o; o = o->parent())
        if (IsProgramClass(o))
            return o;
    return Receiver;
}

std::string UnqualifiedClassName(const std::string& Name) {
    // The last "::" outside template arguments ends the namespaces.
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < Name.size(); ++i) {
        const char c = Name[i];
        if (c == '<' || c == '(')
            ++depth;
        else if ((c == '>' || c == ')') && depth > 0)
            --depth;
        else if (depth == 0 && c == ':' && i + 1 < Name.size() && Name[i + 1] == ':')
            start = i + 2;
    }
    return Name.substr(start);
}

std::string ObjectClassName(const QObject* Object) {
    return Object ? UnqualifiedClassName(Object->metaObject()->className()) : std::string("nil");
}

std::string ExceptionClassName(std::exception_ptr Error) {
    if (!Error)
        return "unknown";
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception& e) {
        return UnqualifiedClassName(Demangled(typeid(e).name()));
    } catch (...) {
        const std::type_info* type = abi::__cxa_current_exception_type();
        return UnqualifiedClassName(Demangled(type ? type->name() : nullptr));
    }
}

std::string ExceptionMessage(std::exception_ptr Error) {
    if (!Error)
        return {};
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return {};
    }
}

QString UnhandledErrorLine(const QObject* Sender, std::exception_ptr Error) {
    QString message = QString::fromStdString(ExceptionMessage(Error));
    message.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    message.replace(QLatin1Char('\n'), QLatin1Char(' '));
    message.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return QString::fromStdString(ObjectClassName(Sender)) + QStringLiteral(" -> ") +
           QString::fromStdString(ExceptionClassName(Error)) + QStringLiteral(": ") + message;
}

} // namespace quillo
