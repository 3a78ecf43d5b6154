#pragma once
// The "[RESOURCESTRINGS]" section of a language file: "Number_Name=Value" lines that replace the
// program's numbered messages (core/l10n/ResMessages.h holds the lookup).

#include <QString>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace quillo {

class TCodePageDecoder;

// Reads the section's lines from Index (the line after the header) up to, not including, the
// next line that begins with "[", leaving Index there, and installs them as the message
// translations in file order. Obsolete "(x)", untranslated "(!)" lines and numbers that are not
// integers are handed to Report and skipped. Translation is off while the list is built and
// afterwards on again when it was on and the list holds anything; that also holds when a value
// that cannot be decoded ends the read (EDecodeError), which keeps the entries before it.
// Lines that begin with "(" carry no translation: "(x)" (obsolete) and "(!)" (untranslated) ones
// are handed to Report, with ObsoleteAdvice closing the obsolete line's text ("You have to remove
// it!"), any other is passed over silently. True for every such line.
bool SkipMarkedLine(const QString& Line, const char* ObsoleteAdvice,
                    const std::function<void(const std::string&)>& Report);

void LoadResourceStrings(const std::vector<std::string>& Lines, std::size_t& Index,
                         const TCodePageDecoder& Decoder, bool Humanize, const QString& Divider,
                         const std::function<void(const std::string&)>& Report);

} // namespace quillo
