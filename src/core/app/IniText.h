#pragma once
// The text form of quillo.ini held in memory: sections in file order, each with its entries and
// the other lines it holds. Section and key names match without regard to ASCII case and the
// first occurrence of a name counts. Comments, empty lines and lines before the first section
// are dropped on reading, so they are not written again.

#include <cstdint>
#include <string>
#include <vector>

namespace quillo {

class TIniText {
public:
    // Lines end with CR, LF or CR LF; each line is trimmed of blanks and control characters. A
    // UTF-8 byte-order mark at the start is not part of the text.
    void Parse(const std::string& Text);
    // Every section as "[name]", its lines as "name=value" (other lines unchanged), then an empty
    // line; CR LF line ends.
    std::string Serialize() const;

    bool Find(const std::string& Section, const std::string& Key, std::string& Value) const;
    std::string ReadString(const std::string& Section, const std::string& Key,
                           const std::string& Default) const;
    // Decimal, or hexadecimal after "0x", "0X" or "$"; empty or unreadable text gives Default.
    int32_t ReadInteger(const std::string& Section, const std::string& Key, int32_t Default) const;
    // An integer: 0 is false, any other number true; anything else gives Default.
    bool ReadBool(const std::string& Section, const std::string& Key, bool Default) const;

    // Replaces the first entry of that name in place (under the given spelling of the name), or
    // appends it to the end of the first section of that name, or appends a new section.
    // Line breaks in Value are written as blanks: a break would end the entry early and turn the
    // rest into lines of their own, even a section header that takes over other keys.
    void WriteString(const std::string& Section, const std::string& Key, const std::string& Value);

private:
    struct TLine {
        bool IsEntry = false;
        std::string Name;  // entries only
        std::string Value; // entries: the value; other lines: the whole trimmed line
    };
    struct TSection {
        std::string Name;
        std::vector<TLine> Lines;
    };
    TSection* FindSection(const std::string& Name);
    const TSection* FindSection(const std::string& Name) const;

    std::vector<TSection> FSections;
};

} // namespace quillo
