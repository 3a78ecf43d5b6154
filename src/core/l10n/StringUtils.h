#pragma once
// The value syntax of language files (module uStringUtils): quoted literals with doubled quotes,
// "#" character codes, the line break that a stray character between literals stands for, and
// the simpler humanized form with a divider text for line breaks. Pure functions, any thread.

#include <QString>
#include <QStringView>

#include <stdexcept>
#include <string>

namespace quillo {

// Decoding stopped at a character outside any literal or code: raised by DecodeLiteral. DecodeValue
// turns such a character into a line break.
class EStringLiteralError : public std::runtime_error {
public:
    EStringLiteralError(QString Decoded, qsizetype Position);
    QString Decoded;         // the text decoded before the stray character
    qsizetype ErrorPosition; // 1-based index of the stray character
};

// A value that cannot be decoded (an open literal, a "#" code that is not a number). The message
// reads: Bad decoded string: "<the rest of the value>".
class EDecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One run of literals and codes. Raises EStringLiteralError at a stray character and
// EDecodeError for an open literal or a bad code.
QString DecodeLiteral(QStringView Text);

// A whole value: runs separated by stray characters become lines joined by a CR. Raises
// EDecodeError.
QString DecodeValue(QStringView Value);

// Every occurrence of Divider (exact, case-sensitive) replaced by Replacement; an empty divider
// replaces nothing.
QString HumanizeValue(const QString& Value, const QString& Divider, const QString& Replacement);

// The reverse of DecodeValue for one text: quoted runs with doubled quotes, control characters
// as "#" codes. An empty text gives ''. DecodeValue(EncodeLiteral(s)) == s.
QString EncodeLiteral(const QString& Text);

} // namespace quillo
