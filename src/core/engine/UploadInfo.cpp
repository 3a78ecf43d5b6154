#include "core/engine/UploadInfo.h"

#include "core/app/MyUtils.h"

namespace quillo {

int TUploadInfo::Find(const std::string& Name) const {
    for (size_t I = 0; I < FLines.size(); ++I) {
        const std::string& Line = FLines[I];
        const size_t Eq = Line.find('=');
        if (Eq != std::string::npos && SameTextAscii(Line.substr(0, Eq), Name))
            return static_cast<int>(I);
    }
    return -1;
}

std::string TUploadInfo::Value(const std::string& Name) const {
    const int I = Find(Name);
    if (I < 0)
        return {};
    const std::string& Line = FLines[static_cast<size_t>(I)];
    return Line.substr(Line.find('=') + 1);
}

void TUploadInfo::SetValue(const std::string& Name, const std::string& Value) {
    const int I = Find(Name);
    if (Value.empty()) {
        if (I >= 0)
            FLines.erase(FLines.begin() + I);
        return;
    }
    // A line break inside a value would split it into lines of its own when the text is read
    // back, so it is kept on one line.
    std::string Clean = Value;
    for (char& C : Clean) {
        if (C == '\r' || C == '\n')
            C = ' ';
    }
    if (I >= 0)
        FLines[static_cast<size_t>(I)] = Name + "=" + Clean;
    else
        FLines.push_back(Name + "=" + Clean);
}

std::string TUploadInfo::Text() const {
    std::string Result;
    for (const std::string& Line : FLines)
        Result += Line + "\r\n";
    return Result;
}

void TUploadInfo::SetText(const std::string& Text) {
    FLines.clear();
    size_t Start = 0;
    while (Start < Text.size()) {
        size_t End = Text.find_first_of("\r\n", Start);
        if (End == std::string::npos)
            End = Text.size();
        if (End > Start)
            FLines.push_back(Text.substr(Start, End - Start));
        Start = End + 1;
    }
}

} // namespace quillo
