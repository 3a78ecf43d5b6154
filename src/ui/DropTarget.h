#pragma once
// TDropTarget: takes what is dropped on one widget, in the formats it is told to accept, and
// only with the copy action (a source that offers only moving is refused, so nothing dropped
// here can ever make the source delete its files). User-interface thread only.

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QMimeData;
class QWidget;

namespace quillo {

enum TDropFormat : uint8_t { dfText = 0, dfFiles = 1 };

// A set of TDropFormat values (bit n for the value n).
struct TDropFormats {
    uint8_t Bits = 0;
    TDropFormats() = default;
    TDropFormats(std::initializer_list<TDropFormat> Formats) {
        for (TDropFormat f : Formats)
            Bits |= uint8_t(1u << f);
    }
    bool Contains(TDropFormat F) const { return (Bits >> F) & 1u; }
};

// What a drop delivered. Files are local paths, one entry per file, so a name holding a line
// break stays one name.
struct TDropData {
    TDropFormat Format = dfFiles;
    std::string Text;
    std::vector<std::string> Files;
};

class TDropTarget final : public QObject {
public:
    using TOnDrop = std::function<void(TDropTarget& Sender, const TDropData& Data)>;

    // Makes Control accept drops; the destructor takes that back.
    TDropTarget(QWidget* Control, TDropFormats Formats);
    ~TDropTarget() override;
    TDropTarget(const TDropTarget&) = delete;
    TDropTarget& operator=(const TDropTarget&) = delete;

    // The format a drag offering Data with the Actions would be taken in (text before file
    // lists), or nothing when it is refused: no copy action, or no accepted format. A file list
    // counts only when every entry is a local file.
    static std::optional<TDropFormat> ChooseFormat(const QMimeData* Data, Qt::DropActions Actions,
                                                   TDropFormats Accepted);
    // The local paths of a file list (empty when any entry is not a local file).
    static std::vector<std::string> LocalFiles(const QMimeData* Data);

    TDropFormats AcceptedFormats;
    // Called after a drop; an exception it raises is swallowed (the drag must end cleanly).
    TOnDrop OnDrop;

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    QWidget* FControl;
    std::optional<TDropFormat> FChosen;
};

} // namespace quillo
