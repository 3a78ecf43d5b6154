#include "ui/DetailsText.h"

#include "core/app/MyUtils.h"
#include "core/l10n/ResMessages.h"

#include <QColor>
#include <QPalette>

#include <cstdio>

namespace quillo {

namespace {

constexpr const char* kCrLf = "\r\n";

// "<message>: " in bold window text, the way every field of the panel is introduced.
TStyledRun Label(int Message, TRunColour Colour = rcWindowText) {
    return {ResString(Message) + ": ", rsBold, Colour};
}

} // namespace

QColor RunColour(TRunColour Colour, const QPalette& Palette) {
    switch (Colour) {
    case rcNavy:
        return QColor(0, 0, 128);
    case rcGreen:
        return QColor(0, 128, 0);
    case rcTeal:
        return QColor(0, 128, 128);
    case rcRed:
        return QColor(255, 0, 0);
    case rcWindowText:
        break;
    }
    // The active colour, also while the panel is disabled: the summary stays readable.
    return Palette.color(QPalette::Active, QPalette::WindowText);
}

TStyledRuns TaskDetailRuns(const TUploadJobData& Task) {
    TStyledRuns runs;
    runs.push_back(Label(rmDetailFile));
    runs.push_back({Task.FileName, rsRegular, rcNavy});
    if (!Task.UploadName.empty()) {
        runs.push_back({" " + ResString(rmDetailUploadAs) + ": ", rsBold, rcWindowText});
        runs.push_back({Task.UploadName, rsRegular, rcNavy});
    }
    runs.push_back({kCrLf, rsRegular, rcNavy});
    if (!Task.Description.empty())
        runs.push_back(Label(rmDetailDescription));
    runs.push_back({Task.Description + kCrLf, rsRegular, rcNavy});
    switch (Task.State) {
    case jsQueued:
        runs.push_back({ResString(rmStateQueued), rsBold, rcNavy});
        break;
    case jsDelayed:
        runs.push_back({ResString(rmStateDelayed), rsBold, rcNavy});
        break;
    case jsUploading:
        runs.push_back({Task.StatusText, rsBold, rcNavy});
        break;
    case jsFinished:
        runs.push_back({ResString(rmStateFinished), rsBold, rcNavy});
        break;
    case jsError:
        runs.push_back(Label(rmStateError, rcRed));
        runs.push_back({Task.StatusText, rsBold, rcWindowText});
        break;
    }
    return runs;
}

std::string FinishedUploadHost(const TFinishedUploadJobData& Finished) {
    const std::string host = GetValueOfKey("host", Finished.Result);
    return host.empty() ? GetValueOfKey("upserver", Finished.Result) : host;
}

TStyledRuns FinishedDetailRuns(const TFinishedUploadJobData& Finished) {
    const std::string host = FinishedUploadHost(Finished);
    const std::string download = GetValueOfKey("download-link", Finished.Result);
    const std::string kill = GetValueOfKey("kill-link", Finished.Result);
    const std::string md5 = GetValueOfKey("MD5", Finished.Result);

    TStyledRuns runs;
    runs.push_back(Label(rmDetailFile));
    runs.push_back({Finished.FileName, rsBold, rcNavy});
    const bool named = !Finished.UploadName.empty();
    if (named) {
        runs.push_back({" " + ResString(rmDetailUploadedAs) + " ", rsBold, rcWindowText});
        runs.push_back({Finished.UploadName, rsRegular, rcNavy});
    }
    if (!host.empty()) {
        runs.push_back(
            {" " + ResString(named ? rmDetailTo : rmDetailUploadedTo) + " ", rsBold, rcWindowText});
        runs.push_back({host, rsBold, rcRed});
    }
    runs.push_back({kCrLf, rsRegular, rcNavy});
    if (!Finished.Description.empty())
        runs.push_back(Label(rmDetailDescription));
    runs.push_back({Finished.Description + kCrLf, rsBold, rcNavy});
    runs.push_back(Label(rmDetailDownloadLink));
    runs.push_back({download + kCrLf, rsBold, rcGreen});
    if (!kill.empty()) {
        runs.push_back(Label(rmDetailDeleteLink));
        runs.push_back({kill + kCrLf, rsBold, rcGreen});
    }
    if (!md5.empty()) {
        runs.push_back(Label(rmDetailMD5));
        runs.push_back({md5 + kCrLf, rsBold, rcTeal});
    }
    return runs;
}

TStyledRuns ProductSummaryRuns(const TProductInfo& Product) {
    char version[64];
    std::snprintf(version, sizeof version, "%d.%d.%d.%d", Product.FileVersion[0], Product.FileVersion[1],
                  Product.FileVersion[2], Product.FileVersion[3]);
    return {{Product.ProductName + " " + version + " - " + ResString(rmUploaderFor) + kCrLf +
                 Product.LegalCopyright + kCrLf + Product.Comments + kCrLf,
             rsBold, rcWindowText}};
}

} // namespace quillo
