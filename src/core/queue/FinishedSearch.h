#pragma once
// The search of the finished list by file name, as the search panel runs it on every edit of
// its text (Next false) and on Find (Next true). A pure function: the window applies the
// outcome (selection marks, focused row, the wrap label, the colour of the search box, the
// beep, switching to the finished view).

#include "core/queue/UploadQueue.h"

#include <cstddef>
#include <string>
#include <vector>

namespace quillo {

struct TSearchOutcome {
    // False: an empty list or nothing to look for; nothing at all changes (no marks cleared, no
    // colour, no beep, no view switch).
    bool Searched = false;
    // The rows to mark selected, in the order visited; all other marks are cleared.
    std::vector<std::size_t> Selected;
    // The focused row afterwards: the last match visited, or the one before when none matched.
    int FocusedRow = -1;
    bool Found = false;
    // The "Reached end of the list, continued from the top..." label is shown.
    bool Wrapped = false;
};

// Text: the search box's text. Its leading blanks (codes up to 32) are dropped and the rest is
// lower-cased (ASCII); a leading "*" means "anywhere in the name", otherwise the name must
// start with it. The walk starts at the focused row (FocusedRow, -1 for none) plus one when
// Next, wraps at the end, and stops at the first match unless SelectAll, or when it is back
// at its start. Names are the file-name part of each entry, lower-cased.
TSearchOutcome SearchFinishedList(const TUploadQueue& Queue, int FocusedRow, bool Next, bool SelectAll,
                                  const std::string& Text);

} // namespace quillo
