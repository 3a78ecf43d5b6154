#include "core/app/IniText.h"

#include "core/app/MyUtils.h"

namespace quillo {

void TIniText::Parse(const std::string& Text) {
    FSections.clear();
    // Editors that save "UTF-8 with signature" put a byte-order mark before the first line; left
    // there it would make the first section header unreadable, and the next save would drop it.
    static constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
    size_t i = Text.compare(0, 3, kUtf8Bom) == 0 ? 3 : 0;
    const size_t n = Text.size();
    while (i < n) {
        size_t e = i;
        while (e < n && Text[e] != '\r' && Text[e] != '\n')
            ++e;
        const std::string line = Trim(Text.substr(i, e - i));
        i = e;
        if (i < n && Text[i] == '\r')
            ++i;
        if (i < n && Text[i] == '\n')
            ++i;
        if (line.empty() || line[0] == ';')
            continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            FSections.push_back(TSection{Trim(line.substr(1, line.size() - 2)), {}});
            continue;
        }
        if (FSections.empty())
            continue;
        TLine l;
        const size_t eq = line.find('=');
        if (eq != std::string::npos) {
            l.IsEntry = true;
            l.Name = Trim(line.substr(0, eq));
            l.Value = Trim(line.substr(eq + 1));
        } else {
            l.Value = line;
        }
        FSections.back().Lines.push_back(std::move(l));
    }
}

std::string TIniText::Serialize() const {
    std::string r;
    for (const auto& s : FSections) {
        r += "[" + s.Name + "]\r\n";
        for (const auto& l : s.Lines) {
            if (l.IsEntry)
                r += l.Name + "=" + l.Value + "\r\n";
            else
                r += l.Value + "\r\n";
        }
        r += "\r\n";
    }
    return r;
}

TIniText::TSection* TIniText::FindSection(const std::string& Name) {
    for (auto& s : FSections)
        if (SameTextAscii(s.Name, Name))
            return &s;
    return nullptr;
}

const TIniText::TSection* TIniText::FindSection(const std::string& Name) const {
    return const_cast<TIniText*>(this)->FindSection(Name);
}

bool TIniText::Find(const std::string& Section, const std::string& Key, std::string& Value) const {
    const TSection* s = FindSection(Section);
    if (!s)
        return false;
    for (const auto& l : s->Lines)
        if (l.IsEntry && SameTextAscii(l.Name, Key)) {
            Value = l.Value;
            return true;
        }
    return false;
}

std::string TIniText::ReadString(const std::string& Section, const std::string& Key,
                                 const std::string& Default) const {
    std::string v;
    return Find(Section, Key, v) ? v : Default;
}

int32_t TIniText::ReadInteger(const std::string& Section, const std::string& Key, int32_t Default) const {
    std::string v;
    return Find(Section, Key, v) ? StrToIntDef(v, Default) : Default;
}

bool TIniText::ReadBool(const std::string& Section, const std::string& Key, bool Default) const {
    return ReadInteger(Section, Key, Default ? 1 : 0) != 0;
}

void TIniText::WriteString(const std::string& Section, const std::string& Key, const std::string& Value) {
    std::string value = Value;
    for (char& c : value)
        if (c == '\r' || c == '\n')
            c = ' ';
    TSection* s = FindSection(Section);
    if (!s) {
        FSections.push_back(TSection{Section, {}});
        s = &FSections.back();
    }
    for (auto& l : s->Lines)
        if (l.IsEntry && SameTextAscii(l.Name, Key)) {
            l.Name = Key;
            l.Value = std::move(value);
            return;
        }
    s->Lines.push_back(TLine{true, Key, std::move(value)});
}

} // namespace quillo
