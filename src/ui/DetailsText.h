#pragma once
// What the details panel under the list views says about the selected entry, as a sequence of
// styled runs: a task of the upload queue, a finished upload, or (no entry or several selected)
// the product summary. The panel appends the runs in order; keeping the texts here lets tests
// and the panel agree on every run without a window.

#include "core/queue/UploadJob.h"

#include <array>
#include <string>
#include <vector>

class QColor;
class QPalette;

namespace quillo {

enum TRunStyle { rsRegular, rsBold };

// The colours of the details panel; window text is the palette's, the others are fixed.
enum TRunColour { rcWindowText, rcNavy, rcGreen, rcTeal, rcRed };
QColor RunColour(TRunColour Colour, const QPalette& Palette);

struct TStyledRun {
    std::string Text; // UTF-8; line ends are CR LF
    TRunStyle Style = rsRegular;
    TRunColour Colour = rcWindowText;
    bool operator==(const TStyledRun&) const = default;
};
using TStyledRuns = std::vector<TStyledRun>;

// The texts the summary is made of: the values of the program's version record.
struct TProductInfo {
    std::string ProductName;
    std::array<int, 4> FileVersion{};
    std::string LegalCopyright;
    std::string Comments;
};

TStyledRuns TaskDetailRuns(const TUploadJobData& Task);
TStyledRuns FinishedDetailRuns(const TFinishedUploadJobData& Finished);
// One bold run: "<ProductName> <a.b.c.d> - <tagline>", the copyright and the comments, each
// line ended by CR LF.
TStyledRuns ProductSummaryRuns(const TProductInfo& Product);

// The host a finished upload went to: its "host" result line, or, for uploads whose method
// recorded the server it used as "upserver", that one.
std::string FinishedUploadHost(const TFinishedUploadJobData& Finished);

} // namespace quillo
