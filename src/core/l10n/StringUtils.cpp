#include "core/l10n/StringUtils.h"

namespace quillo {

namespace {

constexpr QChar kQuote = u'\'';

bool IsBlankOrControl(QChar C) {
    return C.unicode() <= u' ';
}

// Leading and trailing blanks and control characters removed.
QStringView TrimView(QStringView Text) {
    qsizetype first = 0, last = Text.size();
    while (first < last && IsBlankOrControl(Text[first]))
        ++first;
    while (last > first && IsBlankOrControl(Text[last - 1]))
        --last;
    return Text.mid(first, last - first);
}

[[noreturn]] void RaiseBadValue(QStringView Rest) {
    throw EDecodeError("Bad decoded string: \"" + Rest.toString().toStdString() + "\"");
}

// The digits of a "#" code as a 32-bit number; false when there are none or they overflow.
bool CodeValue(QStringView Digits, quint16& Unit) {
    if (Digits.isEmpty())
        return false;
    qint64 value = 0;
    for (const QChar c : Digits) {
        value = value * 10 + (c.unicode() - u'0');
        if (value > 0x7FFFFFFF)
            return false;
    }
    Unit = static_cast<quint16>(value & 0xFFFF);
    return true;
}

// An error of the value as a whole (rather than a stray character): the caller quotes the rest of
// the value it was decoding.
struct TBadValue {};

} // namespace

EStringLiteralError::EStringLiteralError(QString Text, qsizetype Position)
    : std::runtime_error("Stray character in string literal"), Decoded(std::move(Text)),
      ErrorPosition(Position) {}

namespace {

// One run up to its end or its first stray character, whose 1-based position goes to Stray (0:
// none). Throws TBadValue. Reports strays by value rather than by exception: a long line of them
// is then no slower than any other line.
QString DecodeRun(QStringView T, qsizetype& Stray) {
    Stray = 0;
    enum { stOutside, stLiteral, stCode } state = stOutside;
    QString result;
    qsizetype codeStart = 0;
    const auto endCode = [&](qsizetype End) {
        quint16 unit = 0;
        if (!CodeValue(T.mid(codeStart, End - codeStart), unit))
            return false;
        result.append(QChar(unit));
        return true;
    };
    for (qsizetype i = 0; i < T.size(); ++i) {
        const QChar c = T[i];
        switch (state) {
        case stLiteral:
            if (c == kQuote)
                state = stOutside;
            else
                result.append(c);
            break;
        case stCode:
            if (c == u'#' || c == kQuote) {
                if (!endCode(i))
                    throw TBadValue{};
                if (c == u'#')
                    codeStart = i + 1;
                else
                    state = stLiteral;
            } else if (c < u'0' || c > u'9') {
                throw TBadValue{};
            }
            break;
        case stOutside:
            if (c == u'#') {
                state = stCode;
                codeStart = i + 1;
            } else if (c == kQuote) {
                // Two quotes in a row: the first closed a literal, this one opens the next, and
                // together they stand for one quote.
                if (i > 0 && T[i - 1] == kQuote)
                    result.append(kQuote);
                state = stLiteral;
            } else {
                Stray = i + 1;
                return result;
            }
            break;
        }
    }
    if (state == stLiteral)
        throw TBadValue{};
    if (state == stCode)
        endCode(T.size()); // a code left open at the end: a failure appends nothing
    return result;
}

} // namespace

QString DecodeLiteral(QStringView Text) {
    qsizetype stray = 0;
    QString text;
    try {
        text = DecodeRun(Text, stray);
    } catch (const TBadValue&) {
        RaiseBadValue(Text);
    }
    if (stray)
        throw EStringLiteralError(text, stray);
    return text;
}

QString DecodeValue(QStringView Value) {
    QString lines;
    QStringView rest = Value;
    // Works on views of the one value, so a line full of stray characters costs no copies.
    for (;;) {
        qsizetype stray = 0;
        QString text;
        try {
            text = DecodeRun(rest, stray);
        } catch (const TBadValue&) {
            RaiseBadValue(rest);
        }
        if (!lines.isEmpty())
            lines.append(u'\r');
        lines.append(text);
        if (!stray)
            return lines;
        rest = TrimView(rest.mid(stray));
    }
}

QString HumanizeValue(const QString& Value, const QString& Divider, const QString& Replacement) {
    if (Divider.isEmpty())
        return Value;
    QString result = Value;
    return result.replace(Divider, Replacement, Qt::CaseSensitive);
}

QString EncodeLiteral(const QString& Text) {
    QString out;
    bool inLiteral = false;
    for (const QChar c : Text) {
        if (c.unicode() < u' ') {
            if (inLiteral)
                out.append(kQuote);
            inLiteral = false;
            out.append(u'#').append(QString::number(c.unicode()));
            continue;
        }
        if (!inLiteral)
            out.append(kQuote);
        inLiteral = true;
        out.append(c);
        if (c == kQuote)
            out.append(kQuote);
    }
    if (inLiteral)
        out.append(kQuote);
    return out.isEmpty() ? QStringLiteral("''") : out;
}

} // namespace quillo
