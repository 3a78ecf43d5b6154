#pragma once
// What the finished list offers beyond showing its rows: sorting it by a column, and the texts
// of its link commands (clipboard texts and exported link lists, byte for byte), with the table
// of those commands for the window that shows them. User-interface thread, like the queue.
//
// Rows are positions in the finished list. Every command walks the selected rows from the first
// to the last (Rows is taken in ascending order, each row once; rows outside the list are
// ignored) and takes entry i of the list for row i.

#include "core/queue/UploadQueue.h"

#include <QLocale>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillo {

using TRows = std::vector<std::size_t>;

// ---- values of a finished record ----------------------------------------------------------

// The file-name part of FileName.
std::string ShownName(const TFinishedUploadJobData& Record);
std::string DownloadLink(const TFinishedUploadJobData& Record);
std::string DeleteLink(const TFinishedUploadJobData& Record);
std::string MD5Of(const TFinishedUploadJobData& Record);

// EndTime in Locale's short date format, a blank and its long time format (without the time
// zone); only the date when the time is exactly midnight. Empty for a value that is no date.
std::string UploadTimeText(double EndTime, const QLocale& Locale = QLocale());

// ---- sorting -------------------------------------------------------------------------------

enum TFinishedColumn : int { fcFileName = 0, fcSize = 1, fcUploadTime = 2 };

// Sorts the finished list itself, ascending, by the column's key: the shown name compared byte
// by byte with a-z read as A-Z, the size as a number, the end time in whole milliseconds (times
// less than a millisecond apart are equal, except across a millisecond boundary: an order that
// is consistent, which "less than a millisecond apart" between any two is not). Entries with
// equal keys keep their order. Observers hear one RowsChanged for the whole list, so the marks
// of a view stay on the row positions. Any other column does nothing.
void SortFinishedList(TUploadQueue& Queue, int Column);

// ---- clipboard texts -----------------------------------------------------------------------

// One line per row: the download link and CR LF (an empty line for an entry without one).
std::string DownloadLinksText(const TUploadQueue& Queue, const TRows& Rows);
// Per row: the download link, CR LF; "MD5: " + the hash in upper case + CR LF where there is
// a hash; then an empty line (CR LF).
std::string DownloadLinksAndMD5Text(const TUploadQueue& Queue, const TRows& Rows);
// As DownloadLinksText, with the delete links.
std::string DeleteLinksText(const TUploadQueue& Queue, const TRows& Rows);

// ---- exports -------------------------------------------------------------------------------

enum TExportMode : int { emAllDetails = 0, emDownloadLinks = 1, emDeleteLinks = 2 };

// The text ExportLinks writes: mode 0 the four labelled lines of message 65025 and a line of 70
// hyphens per row, mode 1 the download links, mode 2 the delete links, one per line. Every
// line ends with CR LF; no rows give an empty text. Locale writes the upload time.
std::string ExportLinksText(const TUploadQueue& Queue, const TRows& Rows, int Mode,
                            const QLocale& Locale = QLocale());

// Writes an exported list or script so that the old file is never left half overwritten: a
// temporary file in the same folder, renamed over the target once complete. A symbolic link is
// followed (its target is replaced, the link stays). An existing file keeps its permissions; a
// new one gets NewFileMode within the process's umask. Raises EFileWriteError naming the file
// and the system's reason.
void WriteExportFile(const std::string& Path, const std::string& Text, unsigned NewFileMode = 0666);

// ---- the commands --------------------------------------------------------------------------

enum TLinkCommand : int {
    lcCopyDownloadLinks,
    lcCopyDownloadLinksAndMD5,
    lcCopyDeleteLinks,
    lcExportDownloadLinks,
    lcExportDeleteLinks,
    lcExportAll,
    lcMakeRenameScript,
    lcDeleteSelected,
    lcSelectAll,
};

// When a command may run: each needs the finished view to have the keyboard focus, and then
// either some selected row or a non-empty list.
enum TLinkCommandNeed : int { lnSelection, lnEntries };

struct TLinkCommandInfo {
    TLinkCommand Command;
    const char* Name;     // the action's object name
    const char* Caption;  // its caption
    const char* Shortcut; // QKeySequence text, empty for none
    TLinkCommandNeed Need;
};

// The nine commands in menu order (the three exports sit in the submenu
// "Export links to a TXT file").
extern const std::array<TLinkCommandInfo, 9> LinkCommands;
inline constexpr const char* ExportSubmenuCaption = "Export links to a TXT file";

bool LinkCommandEnabled(TLinkCommand Command, bool ViewHasFocus, std::size_t SelectedRows,
                        std::size_t ListEntries);

// The rows in ascending order, each once, those outside a list of Count entries left out.
TRows NormalizedRows(TRows Rows, std::size_t Count);

} // namespace quillo
