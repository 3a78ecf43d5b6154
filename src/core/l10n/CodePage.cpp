#include "core/l10n/CodePage.h"

#include <cerrno>
#include <iconv.h>

namespace quillo {

std::string IconvCodePageName(int CodePage) {
    if (CodePage == cpUtf8)
        return "UTF-8";
    if (CodePage == 20127)
        return "ASCII";
    if (CodePage == 20866)
        return "KOI8-R";
    if (CodePage == 21866)
        return "KOI8-U";
    if (CodePage >= 28591 && CodePage <= 28606)
        return "ISO-8859-" + std::to_string(CodePage - 28590);
    return "CP" + std::to_string(CodePage);
}

TCodePageDecoder::TCodePageDecoder(int CodePage) : FCodePage(CodePage) {
    if (CodePage == cpUtf8)
        return;
    const iconv_t cd = iconv_open("UTF-16LE", IconvCodePageName(CodePage).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        FValid = false;
        return;
    }
    FIconv = cd;
}

TCodePageDecoder::~TCodePageDecoder() {
    if (FIconv)
        iconv_close(static_cast<iconv_t>(FIconv));
}

QString TCodePageDecoder::Decode(std::string_view Bytes) const {
    if (!FIconv)
        return QString::fromUtf8(Bytes.data(), static_cast<qsizetype>(Bytes.size()));
    const iconv_t cd = static_cast<iconv_t>(FIconv);
    iconv(cd, nullptr, nullptr, nullptr, nullptr); // a fresh shift state for every line
    QString result;
    // Windows code pages give at most one UTF-16 unit per byte; the loop grows the buffer should
    // one ever give more.
    std::u16string buffer(Bytes.size() + 4, u'\0');
    char* in = const_cast<char*>(Bytes.data());
    size_t inLeft = Bytes.size();
    while (inLeft > 0) {
        char* out = reinterpret_cast<char*>(buffer.data());
        size_t outLeft = buffer.size() * sizeof(char16_t);
        const size_t rc = iconv(cd, &in, &inLeft, &out, &outLeft);
        const int error = errno;
        const size_t units = (buffer.size() * sizeof(char16_t) - outLeft) / sizeof(char16_t);
        result.append(reinterpret_cast<const QChar*>(buffer.data()), static_cast<qsizetype>(units));
        if (rc != static_cast<size_t>(-1))
            break;
        if (error == E2BIG && units > 0)
            continue;
        // A byte the code page does not map, or a sequence cut off at the end of the line.
        result.append(QChar(QChar::ReplacementCharacter));
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return result;
}

} // namespace quillo
