#include "ui/DropTarget.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace quillo {

TDropTarget::TDropTarget(QWidget* Control, TDropFormats Formats)
    : QObject(Control), AcceptedFormats(Formats), FControl(Control) {
    FControl->setAcceptDrops(true);
    FControl->installEventFilter(this);
}

TDropTarget::~TDropTarget() {
    FControl->removeEventFilter(this);
    FControl->setAcceptDrops(false);
}

std::vector<std::string> TDropTarget::LocalFiles(const QMimeData* Data) {
    std::vector<std::string> files;
    if (!Data || !Data->hasUrls())
        return files;
    for (const QUrl& url : Data->urls()) {
        const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
        if (path.isEmpty())
            return {};
        files.push_back(QFile::encodeName(path).toStdString());
    }
    return files;
}

std::optional<TDropFormat> TDropTarget::ChooseFormat(const QMimeData* Data, Qt::DropActions Actions,
                                                     TDropFormats Accepted) {
    if (!Data || !(Actions & Qt::CopyAction))
        return std::nullopt;
    // A file manager offers its files as text too: text first, as long as text is wanted.
    if (Accepted.Contains(dfText) && Data->hasText())
        return dfText;
    if (Accepted.Contains(dfFiles) && !LocalFiles(Data).empty())
        return dfFiles;
    return std::nullopt;
}

bool TDropTarget::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched != FControl)
        return false;
    switch (Event->type()) {
    case QEvent::DragEnter: {
        auto* e = static_cast<QDragEnterEvent*>(Event);
        FChosen = ChooseFormat(e->mimeData(), e->possibleActions(), AcceptedFormats);
        [[fallthrough]];
    }
    case QEvent::DragMove: {
        auto* e = static_cast<QDragMoveEvent*>(Event);
        if (FChosen) {
            e->setDropAction(Qt::CopyAction);
            e->accept();
        } else {
            e->ignore();
        }
        return true;
    }
    case QEvent::DragLeave:
        FChosen.reset();
        return true;
    case QEvent::Drop: {
        auto* e = static_cast<QDropEvent*>(Event);
        const std::optional<TDropFormat> chosen = std::exchange(FChosen, std::nullopt);
        if (!chosen) {
            e->ignore();
            return true;
        }
        e->setDropAction(Qt::CopyAction);
        e->accept();
        TDropData data;
        data.Format = *chosen;
        if (*chosen == dfText)
            data.Text = e->mimeData()->text().toStdString();
        else
            data.Files = LocalFiles(e->mimeData());
        if (OnDrop) {
            try {
                OnDrop(*this, data);
            } catch (...) {
            }
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace quillo
