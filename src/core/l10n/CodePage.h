#pragma once
// Conversion of language-file text from a Windows code page (1250, 1251, 1252, 932, ...) to
// Unicode through iconv. The program's own texts are UTF-8, so that is the code page of a file
// that names none.

#include <QString>

#include <memory>
#include <string>
#include <string_view>

namespace quillo {

inline constexpr int cpUtf8 = 65001;

// The iconv name of a Windows code page number ("CP1251", "UTF-8", "ISO-8859-2", ...).
std::string IconvCodePageName(int CodePage);

class TCodePageDecoder final {
public:
    // Valid() is false when iconv does not know the code page.
    explicit TCodePageDecoder(int CodePage = cpUtf8);
    ~TCodePageDecoder();
    TCodePageDecoder(const TCodePageDecoder&) = delete;
    TCodePageDecoder& operator=(const TCodePageDecoder&) = delete;

    bool Valid() const { return FValid; }
    int CodePage() const { return FCodePage; }

    // Bytes the code page cannot map become U+FFFD, one per byte; never fails.
    QString Decode(std::string_view Bytes) const;

private:
    int FCodePage;
    bool FValid = true;
    void* FIconv = nullptr; // iconv_t; null for UTF-8, which Qt decodes itself
};

} // namespace quillo
