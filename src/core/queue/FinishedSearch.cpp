#include "core/queue/FinishedSearch.h"

#include "core/app/MyUtils.h"

#include <cstring>

namespace quillo {

namespace {

char Lower(char C) {
    return C >= 'A' && C <= 'Z' ? static_cast<char>(C + 32) : C;
}

// Whether the lower-cased file-name part of Path starts with / contains Pattern (already lower
// case). No copies: one keystroke walks the whole list.
bool Matches(const std::string& Path, const std::string& Pattern, bool Anywhere) {
    const size_t Slash = Path.rfind('/');
    const size_t Begin = Slash == std::string::npos ? 0 : Slash + 1;
    const size_t Length = Path.size() - Begin;
    if (Pattern.size() > Length)
        return false;
    const size_t LastStart = Anywhere ? Length - Pattern.size() : 0;
    for (size_t Start = 0; Start <= LastStart; ++Start) {
        size_t I = 0;
        while (I < Pattern.size() && Lower(Path[Begin + Start + I]) == Pattern[I])
            ++I;
        if (I == Pattern.size())
            return true;
    }
    return false;
}

} // namespace

TSearchOutcome SearchFinishedList(const TUploadQueue& Queue, int FocusedRow, bool Next, bool SelectAll,
                                  const std::string& Text) {
    TSearchOutcome Outcome;
    Outcome.FocusedRow = FocusedRow;
    std::string Pattern = LowerCaseAscii(Text);
    size_t Lead = 0;
    while (Lead < Pattern.size() && static_cast<unsigned char>(Pattern[Lead]) <= 32)
        ++Lead;
    Pattern.erase(0, Lead);
    const long long Count = static_cast<long long>(Queue.FinishedCount());
    if (Count == 0 || Pattern.empty())
        return Outcome;
    const bool Anywhere = Pattern.front() == '*';
    if (Anywhere)
        Pattern.erase(0, 1);
    if (Pattern.empty())
        return Outcome;

    Outcome.Searched = true;
    // A remainder keeps the sign of the dividend: a negative start (no focused row) gives 0.
    long long Start = (static_cast<long long>(FocusedRow) + (Next ? 1 : 0)) % Count;
    if (Start < 0)
        Start = 0;
    long long I = Start;
    for (;;) {
        if (Matches(Queue.Finished(static_cast<size_t>(I)).FileName, Pattern, Anywhere)) {
            Outcome.FocusedRow = static_cast<int>(I);
            Outcome.Selected.push_back(static_cast<size_t>(I));
            Outcome.Found = true;
            if (!SelectAll)
                break;
        }
        I = (I + 1) % Count;
        Outcome.Wrapped = I < Start;
        if (I == Start)
            break;
    }
    return Outcome;
}

} // namespace quillo
