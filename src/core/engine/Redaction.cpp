#include "core/engine/Redaction.h"

#include "core/app/Settings.h"

#include <algorithm>

namespace quillo {

namespace {

constexpr size_t MinPlainLength = 3;

bool Unreserved(unsigned char C) {
    return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '-' ||
           C == '.' || C == '_' || C == '~';
}

// EncodeAll: every byte as %XX; otherwise only the bytes a URL cannot carry as they are, a blank
// as BlankAs.
std::string Encoded(const std::string& Secret, bool EncodeAll, bool Lower, const char* BlankAs) {
    const char* Hex = Lower ? "0123456789abcdef" : "0123456789ABCDEF";
    std::string Out;
    for (const unsigned char C : Secret) {
        if (!EncodeAll && Unreserved(C)) {
            Out.push_back(static_cast<char>(C));
        } else if (!EncodeAll && C == ' ') {
            Out += BlankAs;
        } else {
            Out.push_back('%');
            Out.push_back(Hex[C >> 4]);
            Out.push_back(Hex[C & 15]);
        }
    }
    return Out;
}

void ReplaceAll(std::string& Text, const std::string& What) {
    if (What.empty())
        return;
    const std::string With = RedactedText;
    for (size_t At = Text.find(What); At != std::string::npos; At = Text.find(What, At + With.size()))
        Text.replace(At, What.size(), With);
}

} // namespace

std::string RedactSecrets(const std::string& Text, const std::vector<std::string>& Secrets) {
    std::vector<std::string> Forms;
    for (const std::string& Secret : Secrets) {
        if (Secret.empty())
            continue;
        for (const bool Lower : {false, true}) {
            Forms.push_back(Encoded(Secret, true, Lower, nullptr));
            Forms.push_back(Encoded(Secret, false, Lower, "%20"));
            Forms.push_back(Encoded(Secret, false, Lower, "+"));
        }
        Forms.push_back(Secret);
    }
    // Longer forms first, so that no part of one survives the replacement of a shorter one.
    std::stable_sort(Forms.begin(), Forms.end(),
                     [](const std::string& A, const std::string& B) { return A.size() > B.size(); });
    std::string Out = Text;
    for (const std::string& Form : Forms) {
        const bool Plain = std::find(Secrets.begin(), Secrets.end(), Form) != Secrets.end();
        if (Plain && Form.size() < MinPlainLength)
            continue;
        ReplaceAll(Out, Form);
    }
    return Out;
}

std::vector<std::string> SettingsSecrets() {
    const TAppSettings Settings = SettingsSnapshot();
    return {Settings.Brimvault.Password, Settings.InternetConnection.UserName,
            Settings.InternetConnection.Password};
}

std::string RedactSettingsSecrets(const std::string& Text) {
    return RedactSecrets(Text, SettingsSecrets());
}

} // namespace quillo
