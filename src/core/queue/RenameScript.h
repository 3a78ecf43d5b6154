#pragma once
// The rename script of the finished list: run in the folder that holds the downloaded files, it
// gives each file uploaded under another name (a scrambled one) its local name back. Two
// flavours, chosen by the file name the user picks: a batch script (the classic format, one
// `ren "upload name" "local name"` line per entry, CR LF) and, for a name ending in ".sh", a POSIX
// shell script (`mv -n -- 'upload name' 'local name'`, LF).
//
// Names come from outside (a downloaded file may be called anything), so they are written only
// in ways the script's interpreter cannot read as commands: in the batch script "%" is doubled,
// and an entry whose names hold a double quote or a control character cannot be quoted at all
// and is left out; in the shell script every name is single-quoted (a quote written as '\''),
// and an entry with a "/" or a NUL byte in a name (which would reach outside the folder, or
// cannot be a file name) is left out. Left-out entries are named in LeftOut, one message each.

#include "core/queue/FinishedLinks.h"

#include <string>
#include <vector>

namespace quillo {

enum TRenameScriptKind : int { rsBatch, rsShell };

inline constexpr const char* ShellScriptFilterName = "Shell script";
inline constexpr const char* ShellScriptExtension = "sh";

struct TRenameScript {
    std::string Text;
    // "Left out of the rename script, its name cannot be written safely: <upload name> ->
    // <local name>" per entry, control characters in the names shown as \xNN.
    std::vector<std::string> LeftOut;
};

// rsShell when FileName ends in ".sh" (ASCII case ignored), rsBatch otherwise.
TRenameScriptKind RenameScriptKindFor(const std::string& FileName);

// The script for the selected rows; rows whose UploadName is empty (uploaded under their own
// name) contribute nothing and are not reported. The shell script starts with "#!/bin/sh" and a
// comment even when no entry qualifies; the batch script is then empty.
TRenameScript MakeRenameScript(const TUploadQueue& Queue, const TRows& Rows, TRenameScriptKind Kind);

// Text as a single-quoted shell word: 'it'\''s' for it's.
std::string ShellQuote(const std::string& Text);

} // namespace quillo
