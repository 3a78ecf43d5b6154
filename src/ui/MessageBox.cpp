#include "ui/MessageBox.h"

#include "core/l10n/ResMessages.h"

#include <QMessageBox>

#include <utility>

namespace quillo {

namespace {

TMessageBoxHandler& InstalledHandler() {
    static TMessageBoxHandler handler;
    return handler;
}

QMessageBox::Icon ToQtIcon(TMsgBoxIcon Icon) {
    switch (Icon) {
    case miInformation:
        return QMessageBox::Information;
    case miWarning:
        return QMessageBox::Warning;
    case miError:
        return QMessageBox::Critical;
    case miQuestion:
        return QMessageBox::Question;
    case miNone:
        break;
    }
    return QMessageBox::NoIcon;
}

TMsgBoxResult RunQtBox(QWidget* Owner, const QString& Text, const QString& Caption, TMsgBoxButtons Buttons,
                       TMsgBoxIcon Icon) {
    // The numbered messages break lines the Windows way.
    QString text = Text;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(ToQtIcon(Icon), Caption, text, QMessageBox::NoButton, Owner);
    switch (Buttons) {
    case mbOK:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case mbOKCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case mbYesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    case mbYesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return mrOK;
    case QMessageBox::Yes:
        return mrYes;
    case QMessageBox::No:
        return mrNo;
    default:
        return Buttons == mbYesNo ? mrNo : (Buttons == mbOK ? mrOK : mrCancel);
    }
}

} // namespace

TMsgBoxResult ShowMessageBox(QWidget* Owner, const QString& Text, const QString& Caption,
                             TMsgBoxButtons Buttons, TMsgBoxIcon Icon) {
    // Copy: the handler may replace itself while it runs.
    const TMessageBoxHandler handler = InstalledHandler();
    if (handler)
        return handler(Owner, Text, Caption, Buttons, Icon);
    return RunQtBox(Owner, Text, Caption, Buttons, Icon);
}

void ShowErrorBox(QWidget* Owner, const QString& Text) {
    ShowMessageBox(Owner, Text, ResQString(rmError), mbOK, miError);
}

TMessageBoxHandler SetMessageBoxHandler(TMessageBoxHandler Handler) {
    return std::exchange(InstalledHandler(), std::move(Handler));
}

} // namespace quillo
