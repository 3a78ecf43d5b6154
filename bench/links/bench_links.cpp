// The finished list's commands over 100,000 entries: a sort by each column, the download links
// of all of them as clipboard text, the rename script, and one search keystroke that walks the
// whole list. Each figure is printed with a reference measured in the same run: the bare
// standard-library work on the same data (sorting the keys alone, joining the links alone,
// searching the names alone).
#include "common/BenchSupport.h"
#include "core/app/MyUtils.h"
#include "core/queue/FinishedLinks.h"
#include "core/queue/FinishedSearch.h"
#include "core/queue/RenameScript.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

using namespace quillo;
using namespace quillo::bench;

namespace {

// The median time of Rounds runs of Work, in ms.
template <class F> double TimeMs(F&& Work, int Rounds = 5) {
    std::vector<double> Times;
    for (int I = 0; I < Rounds; ++I) {
        const auto Start = TClock::now();
        Work();
        Times.push_back(MsSince(Start));
    }
    return Median(std::move(Times));
}

void Shuffle(TUploadQueue& Queue, std::mt19937& Random) {
    std::vector<size_t> Order(Queue.FinishedCount());
    std::iota(Order.begin(), Order.end(), size_t{0});
    std::shuffle(Order.begin(), Order.end(), Random);
    Queue.ReorderFinished(Order);
}

void Line(const char* What, double Ms, double Reference, double Goal) {
    std::printf("%-34s %8.2f ms   reference %8.2f ms   ratio %5.1f   goal < %g ms%s\n", What, Ms, Reference,
                Reference > 0 ? Ms / Reference : 0.0, Goal, Ms < Goal ? "" : "   MISSED");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication App(argc, argv);
    const int N = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    std::mt19937 Random(7);
    std::vector<TFinishedUploadJobData> Entries;
    Entries.reserve(N);
    for (int I = 0; I < N; ++I) {
        TFinishedUploadJobData R;
        R.FileName = "/home/someone/Downloads/Holiday " + std::to_string(I % 977) + "/" +
                     RandomFileName([&](int Range) { return static_cast<int>(Random() % Range); });
        R.UploadName =
            I % 3 ? RandomFileName([&](int Range) { return static_cast<int>(Random() % Range); }) : "";
        R.FileSize = static_cast<int64_t>(Random() % 5000000000ull);
        R.EndTime = 40000 + (Random() % 100000000) / 10000.0;
        R.Result = "upserver=up" + std::to_string(I % 9) +
                   ".brimvault.com\r\nMD5=" + std::string(32, 'a' + I % 6) +
                   "\r\ndownload-link=http://brimvault.com/d/" + std::to_string(1000000 + I) +
                   "\r\nkill-link=http://brimvault.com/k/" + std::to_string(1000000 + I) + "?key=abcdef";
        Entries.push_back(std::move(R));
    }
    TUploadQueue Queue;
    Queue.AppendAll({}, std::move(Entries));
    std::printf("finished list: %d entries\n", N);

    const char* Columns[] = {"sort by File Name", "sort by Size", "sort by Upload Time"};
    for (int Column = 0; Column < 3; ++Column) {
        double Total = 0;
        for (int Round = 0; Round < 5; ++Round) {
            Shuffle(Queue, Random);
            Total += TimeMs([&] { SortFinishedList(Queue, Column); }, 1);
        }
        // Reference: sorting the bare keys, already extracted, with std::sort.
        std::vector<std::string> Names;
        std::vector<int64_t> Numbers;
        for (size_t I = 0; I < Queue.FinishedCount(); ++I) {
            Names.push_back(LowerCaseAscii(ExtractFileName(Queue.Finished(I).FileName)));
            Numbers.push_back(Column == 1 ? Queue.Finished(I).FileSize
                                          : static_cast<int64_t>(Queue.Finished(I).EndTime * 86400000.0));
        }
        std::shuffle(Names.begin(), Names.end(), Random);
        std::shuffle(Numbers.begin(), Numbers.end(), Random);
        const double Reference = TimeMs(
            [&] {
                if (Column == 0) {
                    std::vector<std::string> Copy = Names;
                    std::sort(Copy.begin(), Copy.end());
                } else {
                    std::vector<int64_t> Copy = Numbers;
                    std::sort(Copy.begin(), Copy.end());
                }
            },
            5);
        Line(Columns[Column], Total / 5, Reference, 300);
    }

    TRows All(Queue.FinishedCount());
    std::iota(All.begin(), All.end(), size_t{0});
    std::string Text;
    const double Copy = TimeMs([&] { Text = DownloadLinksText(Queue, All); });
    std::vector<std::string> Links;
    for (size_t I = 0; I < Queue.FinishedCount(); ++I)
        Links.push_back(DownloadLink(Queue.Finished(I)));
    std::string Joined;
    const double JoinReference = TimeMs([&] {
        Joined.clear();
        for (const std::string& L : Links)
            Joined += L + "\r\n";
    });
    if (Joined != Text)
        std::fprintf(stderr, "the copied links differ from the reference\n");
    Line("copy download links of all", Copy, JoinReference, 300);

    const double Script = TimeMs([&] { Text = MakeRenameScript(Queue, All, rsShell).Text; });
    Line("shell rename script of all", Script, JoinReference, 300);

    // One keystroke with a miss: the search visits every entry.
    std::vector<std::string> Lower;
    for (size_t I = 0; I < Queue.FinishedCount(); ++I)
        Lower.push_back(LowerCaseAscii(ExtractFileName(Queue.Finished(I).FileName)));
    size_t Hits = 0;
    const double Search =
        TimeMs([&] { Hits += SearchFinishedList(Queue, 0, false, false, "*zzzq").Found; }, 9);
    const double SearchReference = TimeMs(
        [&] {
            for (const std::string& L : Lower)
                Hits += L.find("zzzq") != std::string::npos;
        },
        9);
    Line("one search keystroke (a miss)", Search, SearchReference, 20);
    const double Prefix = TimeMs([&] { Hits += SearchFinishedList(Queue, 0, false, true, "k").Found; }, 9);
    Line("select all matches of a prefix", Prefix, SearchReference, 20);
    std::printf("(%zu hits)\n", Hits);
    return 0;
}
