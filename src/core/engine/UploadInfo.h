#pragma once
// TUploadInfo: the ordered name=value lines of an uploader ("upserver", "MD5", "download-link",
// "kill-link"). A task keeps them as its resume data and a finished record as its result lines,
// both as one text of lines (each ending with CR LF), which GetValueOfKey reads back.

#include <string>
#include <vector>

namespace quillo {

class TUploadInfo {
public:
    // The value of the first line whose name (the text before the first "=") equals Name
    // ignoring ASCII case; empty when there is none.
    std::string Value(const std::string& Name) const;
    bool Has(const std::string& Name) const { return Find(Name) >= 0; }
    // Replaces the value of the first line of that name in place, or appends "Name=Value". An
    // empty value removes the line.
    void SetValue(const std::string& Name, const std::string& Value);
    void Remove(const std::string& Name) { SetValue(Name, std::string()); }

    // The lines, each followed by CR LF.
    std::string Text() const;
    // Replaces all lines by the non-empty lines of Text (split at CR LF, CR or LF).
    void SetText(const std::string& Text);
    void Clear() { FLines.clear(); }

    const std::vector<std::string>& Lines() const { return FLines; }
    size_t Count() const { return FLines.size(); }

private:
    int Find(const std::string& Name) const;
    std::vector<std::string> FLines;
};

} // namespace quillo
