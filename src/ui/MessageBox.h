#pragma once
// Modal message boxes owned by the main window. Every box the user interface shows goes through
// ShowMessageBox, so a test can answer the question instead of a person (SetMessageBoxHandler).

#include <QString>

#include <functional>

class QWidget;

namespace quillo {

enum TMsgBoxButtons { mbOK, mbOKCancel, mbYesNo, mbYesNoCancel };
enum TMsgBoxIcon { miNone, miInformation, miWarning, miError, miQuestion };
enum TMsgBoxResult { mrOK, mrCancel, mrYes, mrNo };

using TMessageBoxHandler = std::function<TMsgBoxResult(
    QWidget* Owner, const QString& Text, const QString& Caption, TMsgBoxButtons Buttons, TMsgBoxIcon Icon)>;

// Shows a modal box and returns the button the user chose. Closing the box without a button
// counts as Cancel (or No when the box has no Cancel button). User-interface thread only.
TMsgBoxResult ShowMessageBox(QWidget* Owner, const QString& Text, const QString& Caption,
                             TMsgBoxButtons Buttons = mbOK, TMsgBoxIcon Icon = miNone);

// An error box captioned with the numbered message "Error".
void ShowErrorBox(QWidget* Owner, const QString& Text);

// Replaces the real dialog (nullptr restores it); returns the handler that was installed.
TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler Handler);

} // namespace quillo
