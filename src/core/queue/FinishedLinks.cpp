#include "core/queue/FinishedLinks.h"

#include "core/app/AtomicFile.h"
#include "core/app/MyUtils.h"
#include "core/l10n/ResMessages.h"
#include "core/queue/AsciiCaseBlind.h"

#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numeric>
#include <sys/stat.h>
#include <unistd.h>

namespace quillo {

namespace {

const std::string kCrLf = "\r\n";

// The long time format without its time-zone letters ("h:mm:ss AP t" -> "h:mm:ss AP"): the
// upload time is local time, and a zone name only widens the column. What only framed the zone
// goes with it: the brackets of "H:mm:ss (t)" and "APh:mm:ss [t]", the comma of "HH:mm:ss, t".
QString LongTimeFormat(const QLocale& Locale) {
    const QString Format = Locale.timeFormat(QLocale::LongFormat);
    QString Out;
    bool Quoted = false;
    for (qsizetype I = 0; I < Format.size(); ++I) {
        const QChar C = Format[I];
        if (C == QLatin1Char('\''))
            Quoted = !Quoted;
        if (Quoted || C != QLatin1Char('t')) {
            Out += C;
            continue;
        }
        while (I + 1 < Format.size() && Format[I + 1] == QLatin1Char('t'))
            ++I;
        const QChar Close = Out.endsWith(QLatin1Char('(')) ? QLatin1Char(')')
                            : Out.endsWith(QLatin1Char('[')) ? QLatin1Char(']')
                                                              : QChar();
        if (!Close.isNull() && I + 1 < Format.size() && Format[I + 1] == Close) {
            Out.chop(1);
            ++I;
        }
    }
    // Blanks and a comma left at either end by the zone's removal.
    qsizetype First = 0, End = Out.size();
    const auto Loose = [](QChar C) { return C.isSpace() || C == QLatin1Char(','); };
    while (First < End && Loose(Out[First]))
        ++First;
    while (End > First && Loose(Out[End - 1]))
        --End;
    return Out.mid(First, End - First);
}

// Byte-wise comparison with the ASCII letters folded to upper case.
int CompareFolded(const std::string& A, const std::string& B) {
    const size_t N = std::min(A.size(), B.size());
    for (size_t I = 0; I < N; ++I) {
        const unsigned char X = FoldAscii(static_cast<unsigned char>(A[I]));
        const unsigned char Y = FoldAscii(static_cast<unsigned char>(B[I]));
        if (X != Y)
            return X < Y ? -1 : 1;
    }
    return A.size() == B.size() ? 0 : (A.size() < B.size() ? -1 : 1);
}

// The end time as whole milliseconds. Date-times come from the jobs file as raw doubles: NaN
// sorts first, infinities at the ends, so every value has a place.
int64_t TimeKey(double Time) {
    if (std::isnan(Time))
        return INT64_MIN;
    const double Ms = std::round(Time * 86400000.0);
    if (Ms <= -9.2e18)
        return INT64_MIN + 1;
    if (Ms >= 9.2e18)
        return INT64_MAX;
    return static_cast<int64_t>(Ms);
}

template <class TKey, class TLess>
void SortBy(TUploadQueue& Queue, const std::vector<TKey>& Keys, TLess Less) {
    std::vector<size_t> Order(Keys.size());
    std::iota(Order.begin(), Order.end(), size_t{0});
    std::stable_sort(Order.begin(), Order.end(), [&](size_t A, size_t B) { return Less(Keys[A], Keys[B]); });
    Queue.ReorderFinished(Order);
}

template <class TLine> std::string LinesOf(const TUploadQueue& Queue, const TRows& Rows, TLine Line) {
    std::string Text;
    for (const size_t Row : NormalizedRows(Rows, Queue.FinishedCount()))
        Text += Line(Queue.Finished(Row));
    return Text;
}

// Permission bits for a new file under the process's umask, read without changing it.
unsigned ApplyUmask(unsigned Mode) {
    unsigned Mask = 022;
    std::ifstream Status("/proc/self/status");
    std::string Line;
    while (std::getline(Status, Line))
        if (Line.rfind("Umask:", 0) == 0) {
            Mask = static_cast<unsigned>(std::strtoul(Line.c_str() + 6, nullptr, 8));
            break;
        }
    return Mode & ~Mask & 07777;
}

} // namespace

std::string ShownName(const TFinishedUploadJobData& Record) {
    return ExtractFileName(Record.FileName);
}
std::string DownloadLink(const TFinishedUploadJobData& Record) {
    return GetValueOfKey("download-link", Record.Result);
}
std::string DeleteLink(const TFinishedUploadJobData& Record) {
    return GetValueOfKey("kill-link", Record.Result);
}
std::string MD5Of(const TFinishedUploadJobData& Record) {
    return GetValueOfKey("MD5", Record.Result);
}

std::string UploadTimeText(double EndTime, const QLocale& Locale) {
    const QDateTime Moment = DateTimeToQDateTime(EndTime);
    if (!Moment.isValid())
        return std::string();
    QString Text = Locale.toString(Moment.date(), QLocale::ShortFormat);
    if (Moment.time() != QTime(0, 0))
        Text += QLatin1Char(' ') + Locale.toString(Moment.time(), LongTimeFormat(Locale));
    return Text.toStdString();
}

void SortFinishedList(TUploadQueue& Queue, int Column) {
    const size_t Count = Queue.FinishedCount();
    switch (Column) {
    case fcFileName: {
        std::vector<std::string> Keys;
        Keys.reserve(Count);
        for (size_t I = 0; I < Count; ++I)
            Keys.push_back(ShownName(Queue.Finished(I)));
        SortBy(Queue, Keys,
               [](const std::string& A, const std::string& B) { return CompareFolded(A, B) < 0; });
        break;
    }
    case fcSize:
    case fcUploadTime: {
        std::vector<int64_t> Keys;
        Keys.reserve(Count);
        for (size_t I = 0; I < Count; ++I) {
            const TFinishedUploadJobData& R = Queue.Finished(I);
            Keys.push_back(Column == fcSize ? R.FileSize : TimeKey(R.EndTime));
        }
        SortBy(Queue, Keys, std::less<int64_t>());
        break;
    }
    default:
        break;
    }
}

std::string DownloadLinksText(const TUploadQueue& Queue, const TRows& Rows) {
    return LinesOf(Queue, Rows, [](const TFinishedUploadJobData& R) { return DownloadLink(R) + kCrLf; });
}

std::string DownloadLinksAndMD5Text(const TUploadQueue& Queue, const TRows& Rows) {
    return LinesOf(Queue, Rows, [](const TFinishedUploadJobData& R) {
        std::string Entry = DownloadLink(R) + kCrLf;
        const std::string Hash = MD5Of(R);
        if (!Hash.empty())
            Entry += "MD5: " + UpperCaseAscii(Hash) + kCrLf;
        return Entry + kCrLf;
    });
}

std::string DeleteLinksText(const TUploadQueue& Queue, const TRows& Rows) {
    return LinesOf(Queue, Rows, [](const TFinishedUploadJobData& R) { return DeleteLink(R) + kCrLf; });
}

std::string ExportLinksText(const TUploadQueue& Queue, const TRows& Rows, int Mode, const QLocale& Locale) {
    return LinesOf(Queue, Rows, [&](const TFinishedUploadJobData& R) -> std::string {
        switch (Mode) {
        case emAllDetails:
            return FormatText(ResString(rmFinishedDetails), {UploadTimeText(R.EndTime, Locale), ShownName(R),
                                                             DownloadLink(R), DeleteLink(R)}) +
                   kCrLf + std::string(70, '-') + kCrLf;
        case emDownloadLinks:
            return DownloadLink(R) + kCrLf;
        case emDeleteLinks:
            return DeleteLink(R) + kCrLf;
        default:
            return std::string();
        }
    });
}

void WriteExportFile(const std::string& Path, const std::string& Text, unsigned NewFileMode) {
    std::string Target = Path;
    // Replace what a link points at, not the link: the user chose the file they see.
    char Resolved[PATH_MAX];
    struct stat Link {};
    if (::lstat(Path.c_str(), &Link) == 0 && S_ISLNK(Link.st_mode) && ::realpath(Path.c_str(), Resolved))
        Target = Resolved;
    struct stat Existing {};
    unsigned Mode = ApplyUmask(NewFileMode);
    if (::stat(Target.c_str(), &Existing) == 0) {
        if (S_ISDIR(Existing.st_mode))
            throw EFileWriteError("Cannot write file \"" + Path + "\". " + std::strerror(EISDIR));
        Mode = Existing.st_mode & 07777;
    }
    try {
        WriteFileAtomically(Target, Text, Mode);
    } catch (const EFileWriteError& E) {
        if (Target == Path)
            throw;
        throw EFileWriteError(std::string(E.what()) + " (through \"" + Path + "\")");
    }
}

const std::array<TLinkCommandInfo, 9> LinkCommands = {{
    {lcCopyDownloadLinks, "act_copydownloadlinks", "Copy download-links", "Ctrl+C", lnSelection},
    {lcCopyDownloadLinksAndMD5, "act_copydownloadlinksandmd5", "Copy download-links and MD5", "",
     lnSelection},
    {lcCopyDeleteLinks, "act_copydeletelinks", "Copy delete links", "", lnSelection},
    {lcExportDownloadLinks, "act_exportdownloadlinks", "Export download links", "", lnEntries},
    {lcExportDeleteLinks, "act_exportdeletelinks", "Export delete links", "", lnEntries},
    {lcExportAll, "act_exportalllinks", "Export All", "", lnEntries},
    {lcMakeRenameScript, "act_makerenamescript", "Make autorename BAT script", "", lnSelection},
    {lcDeleteSelected, "act_deleteselectedlinks", "Delete selected", "Delete", lnSelection},
    {lcSelectAll, "act_selectalllinks", "Select all", "Ctrl+A", lnEntries},
}};

bool LinkCommandEnabled(TLinkCommand Command, bool ViewHasFocus, std::size_t SelectedRows,
                        std::size_t ListEntries) {
    if (!ViewHasFocus || Command < 0 || static_cast<size_t>(Command) >= LinkCommands.size())
        return false;
    return LinkCommands[Command].Need == lnSelection ? SelectedRows > 0 : ListEntries > 0;
}

TRows NormalizedRows(TRows Rows, std::size_t Count) {
    std::sort(Rows.begin(), Rows.end());
    Rows.erase(std::unique(Rows.begin(), Rows.end()), Rows.end());
    Rows.erase(std::lower_bound(Rows.begin(), Rows.end(), Count), Rows.end());
    return Rows;
}

} // namespace quillo
