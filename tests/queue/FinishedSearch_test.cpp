#include "core/queue/FinishedSearch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quillo;

namespace {

void Fill(TUploadQueue& queue, const std::vector<std::string>& files) {
    std::vector<TFinishedUploadJobData> entries;
    for (const std::string& f : files) {
        TFinishedUploadJobData r;
        r.FileName = f;
        entries.push_back(r);
    }
    queue.AppendAll({}, std::move(entries));
}

struct TSearchCase {
    const char* What;
    std::vector<std::string> Files;
    int Focused;
    bool Next, SelectAll;
    std::string Text;
    bool Searched;
    std::vector<size_t> Selected;
    int FocusedAfter;
    bool Found, Wrapped;
};

TEST(FinishedSearchTest, FindsAsTheSearchPanelDoes) {
    const std::vector<std::string> reports = {"/d/Report.doc", "/d/myreport.doc"};
    const std::vector<std::string> four = {"/a/rep1", "/a/x", "/a/y", "/a/z"};
    // clang-format off
    const TSearchCase cases[] = {
        // what, list, focused row, Next, Select All, text -> searched, marks, focused row, found, wrapped
        {"a prefix finds the name that starts with it", reports, -1, false, false, "rep", true, {0}, 0, true, false},
        {"the letter case is ignored", reports, -1, false, false, "REP", true, {0}, 0, true, false},
        {"leading blanks of the text are dropped", reports, -1, false, false, " \t rep", true, {0}, 0, true, false},
        {"the folder part is not searched", reports, -1, false, false, "d", true, {}, -1, false, false},
        {"* matches anywhere, Select All marks each", reports, -1, false, true, "*rep", true, {0, 1}, 1, true, false},
        {"* without Select All stops at the first", reports, 0, true, false, "*rep", true, {1}, 1, true, false},
        {"Find on the last row starts again at the top", reports, 1, true, false, "*REP", true, {0}, 0, true, false},
        {"typing refines from the focused row itself", reports, 1, false, false, "*rep", true, {1}, 1, true, false},
        {"a match only above the start shows the wrap label", four, 2, false, false, "rep", true, {0}, 0, true, true},
        {"a miss keeps the focus and hides the label", four, 2, false, false, "nothing", true, {}, 2, false, false},
        {"Select All from the middle visits to the end, then from the top", {"/r1", "/x", "/r2", "/r3"}, 1, true,
         true, "r", true, {2, 3, 0}, 0, true, false},
        {"a focused row beyond the list wraps round", four, 9, false, false, "y", true, {2}, 2, true, false},
        {"the name may be longer than the pattern only", {"/ab"}, -1, false, false, "abc", true, {}, -1, false, false},
        {"an empty text does nothing", reports, 0, false, false, "   ", false, {}, 0, false, false},
        {"a lone * does nothing", reports, 0, false, false, " *", false, {}, 0, false, false},
        {"an empty list does nothing", {}, -1, true, false, "rep", false, {}, -1, false, false},
    };
    // clang-format on
    for (const TSearchCase& c : cases) {
        SCOPED_TRACE(c.What);
        TUploadQueue queue;
        Fill(queue, c.Files);
        const TSearchOutcome o = SearchFinishedList(queue, c.Focused, c.Next, c.SelectAll, c.Text);
        EXPECT_EQ(o.Searched, c.Searched);
        EXPECT_EQ(o.Selected, c.Selected);
        EXPECT_EQ(o.FocusedRow, c.FocusedAfter);
        EXPECT_EQ(o.Found, c.Found);
        EXPECT_EQ(o.Wrapped, c.Wrapped);
    }
}

} // namespace
