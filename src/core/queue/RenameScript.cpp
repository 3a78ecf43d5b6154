#include "core/queue/RenameScript.h"

#include "core/app/MyUtils.h"

#include <cstdio>

namespace quillo {

namespace {

bool IsControl(char C) {
    const unsigned char U = static_cast<unsigned char>(C);
    return U < 32 || U == 127;
}

bool BatchSafe(const std::string& Name) {
    for (const char C : Name)
        if (C == '"' || IsControl(C))
            return false;
    return true;
}

bool ShellSafe(const std::string& Name) {
    return !Name.empty() && Name.find('/') == std::string::npos && Name.find('\0') == std::string::npos;
}

// In a batch file "%" starts a variable even inside double quotes; "%%" is a plain "%".
std::string BatchEscape(const std::string& Name) {
    std::string Out;
    for (const char C : Name) {
        Out += C;
        if (C == '%')
            Out += '%';
    }
    return Out;
}

// The name as the error report can show it on one line.
std::string Printable(const std::string& Name) {
    std::string Out;
    for (const char C : Name) {
        if (IsControl(C)) {
            char Hex[8];
            std::snprintf(Hex, sizeof Hex, "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(C)));
            Out += Hex;
        } else {
            Out += C;
        }
    }
    return Out;
}

} // namespace

TRenameScriptKind RenameScriptKindFor(const std::string& FileName) {
    return FileName.size() >= 3 && SameTextAscii(FileName.substr(FileName.size() - 3), ".sh") ? rsShell
                                                                                              : rsBatch;
}

std::string ShellQuote(const std::string& Text) {
    std::string Out = "'";
    for (const char C : Text) {
        if (C == '\'')
            Out += "'\\''";
        else
            Out += C;
    }
    return Out + "'";
}

TRenameScript MakeRenameScript(const TUploadQueue& Queue, const TRows& Rows, TRenameScriptKind Kind) {
    TRenameScript Script;
    if (Kind == rsShell)
        Script.Text = "#!/bin/sh\n# Gives downloaded files their local names back; run it in the folder that "
                      "holds them.\n";
    for (const size_t Row : NormalizedRows(Rows, Queue.FinishedCount())) {
        const TFinishedUploadJobData& R = Queue.Finished(Row);
        if (R.UploadName.empty())
            continue;
        const std::string Local = ShownName(R);
        const bool Safe = Kind == rsShell ? ShellSafe(R.UploadName) && ShellSafe(Local)
                                          : BatchSafe(R.UploadName) && BatchSafe(Local);
        if (!Safe) {
            Script.LeftOut.push_back("Left out of the rename script, its name cannot be written safely: " +
                                     Printable(R.UploadName) + " -> " + Printable(Local));
            continue;
        }
        if (Kind == rsShell)
            Script.Text += "mv -n -- " + ShellQuote(R.UploadName) + " " + ShellQuote(Local) + "\n";
        else
            Script.Text += "ren \"" + BatchEscape(R.UploadName) + "\" \"" + BatchEscape(Local) + "\"\r\n";
    }
    return Script;
}

} // namespace quillo
