#include "ui/Pictures.h"

#include <QApplication>
#include <QFileInfo>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStandardPaths>
#include <QtMath>

#include <array>
#include <cmath>

namespace quillo {

namespace {

enum TShape { shPlus, shPlay, shPause, shArrowDown, shArrowUp, shCross, shClock, shCheck, shBang, shQueue };

struct TPictureDef {
    const char* ThemeName;
    TShape Shape;
    QRgb Colour;
};

constexpr std::array<TPictureDef, ToolBarPictureCount> kToolBar{{
    {"list-add", shPlus, 0xff2e7d32},
    {"media-playback-start", shPlay, 0xff2e7d32},
    {"media-playback-pause", shPause, 0xff1565c0},
    {"go-down", shArrowDown, 0xff1565c0},
    {"go-up", shArrowUp, 0xff1565c0},
    {"edit-delete", shCross, 0xffc62828},
}};

constexpr std::array<TPictureDef, SmallPictureCount> kSmall{{
    {"appointment-soon", shClock, 0xff1565c0},     // Queued
    {"media-playback-pause", shPause, 0xff6d6d6d}, // Delayed
    {"network-transmit", shArrowUp, 0xff2e7d32},   // Uploading
    {"emblem-default", shCheck, 0xff2e7d32},       // Finished
    {"dialog-error", shBang, 0xffc62828},          // Error
    {"document-send", shQueue, 0xff1565c0},        // "Upload Queue" node
    {"emblem-default", shCheck, 0xff2e7d32},       // "Finished" node
}};

// Draws one of our shapes as vectors into the requested rectangle, so it is sharp at any size
// and device pixel ratio. Disabled pictures are drawn in grey.
class TShapeIconEngine final : public QIconEngine {
public:
    TShapeIconEngine(TShape Shape, QColor Colour) : FShape(Shape), FColour(Colour) {}

    void paint(QPainter* P, const QRect& Rect, QIcon::Mode Mode, QIcon::State) override {
        const QColor c = Mode == QIcon::Disabled ? QColor(160, 160, 160) : FColour;
        P->save();
        P->setRenderHint(QPainter::Antialiasing);
        const qreal s = qMin(Rect.width(), Rect.height());
        P->translate(Rect.x() + (Rect.width() - s) / 2, Rect.y() + (Rect.height() - s) / 2);
        P->scale(s / 16.0, s / 16.0); // every shape is laid out on a 16 x 16 grid
        QPen pen(c, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        switch (FShape) {
        case shPlus:
            P->setPen(QPen(c, 3.0, Qt::SolidLine, Qt::RoundCap));
            P->drawLine(QPointF(8, 2.5), QPointF(8, 13.5));
            P->drawLine(QPointF(2.5, 8), QPointF(13.5, 8));
            break;
        case shPlay: {
            QPainterPath path;
            path.moveTo(4, 2.5);
            path.lineTo(13.5, 8);
            path.lineTo(4, 13.5);
            path.closeSubpath();
            P->setPen(Qt::NoPen);
            P->setBrush(c);
            P->drawPath(path);
            break;
        }
        case shPause:
            P->setPen(Qt::NoPen);
            P->setBrush(c);
            P->drawRoundedRect(QRectF(3.5, 2.5, 3.2, 11), 0.8, 0.8);
            P->drawRoundedRect(QRectF(9.3, 2.5, 3.2, 11), 0.8, 0.8);
            break;
        case shArrowDown:
        case shArrowUp: {
            if (FShape == shArrowDown) {
                P->translate(16, 16);
                P->rotate(180);
            }
            P->setPen(QPen(c, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            P->drawLine(QPointF(8, 3), QPointF(8, 13.5));
            P->drawPolyline(QPolygonF({QPointF(3.5, 7.5), QPointF(8, 3), QPointF(12.5, 7.5)}));
            break;
        }
        case shCross:
            P->setPen(QPen(c, 2.8, Qt::SolidLine, Qt::RoundCap));
            P->drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
            P->drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
            break;
        case shClock:
            P->setPen(pen);
            P->drawEllipse(QPointF(8, 8), 6, 6);
            P->drawPolyline(QPolygonF({QPointF(8, 4.5), QPointF(8, 8), QPointF(10.5, 9.5)}));
            break;
        case shCheck:
            P->setPen(QPen(c, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            P->drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
            break;
        case shBang:
            P->setPen(Qt::NoPen);
            P->setBrush(c);
            P->drawEllipse(QPointF(8, 8), 7, 7);
            P->setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
            P->drawLine(QPointF(8, 4), QPointF(8, 9));
            P->drawPoint(QPointF(8, 12));
            break;
        case shQueue:
            P->setPen(QPen(c, 2.0, Qt::SolidLine, Qt::RoundCap));
            for (qreal y : {3.5, 8.0, 12.5})
                P->drawLine(QPointF(2.5, y), QPointF(13.5, y));
            break;
        }
        P->restore();
    }

    QPixmap pixmap(const QSize& Size, QIcon::Mode Mode, QIcon::State State) override {
        QPixmap pm(Size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(0, 0), Size), Mode, State);
        return pm;
    }

    QIconEngine* clone() const override { return new TShapeIconEngine(FShape, FColour); }

private:
    TShape FShape;
    QColor FColour;
};

QIcon BuiltIn(const TPictureDef& Def) {
    return QIcon(new TShapeIconEngine(Def.Shape, QColor::fromRgba(Def.Colour)));
}

// Without a desktop theme (a bare X server, the offscreen platform) Qt looks nowhere: then the
// first installed theme of ours to choose, Tango (16 and 32 pixel pictures, what the window
// shows) or Adwaita.
void UseThemeFallback() {
    static const bool done = [] {
        // Some platforms (the offscreen one) name no folders to look in: the standard ones.
        QStringList paths = QIcon::themeSearchPaths();
        for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
            if (!paths.contains(dir + QLatin1String("/icons")))
                paths.append(dir + QLatin1String("/icons"));
        QIcon::setThemeSearchPaths(paths);
        const auto installed = [&](const QString& Theme) {
            for (const QString& dir : paths)
                if (QFileInfo::exists(dir + QLatin1Char('/') + Theme + QLatin1String("/index.theme")))
                    return true;
            return false;
        };
        if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
            for (const QString& theme : {QStringLiteral("Tango"), QStringLiteral("Adwaita")})
                if (installed(theme)) {
                    QIcon::setThemeName(theme);
                    break;
                }
        return true;
    }();
    (void)done;
}

// A theme picture is taken only when the theme can draw it at the size it is shown at on these
// screens (a 32 pixel button on a double-density screen needs 64 pixels), from a picture of that
// size, a larger one or a scalable one: Qt never scales a theme picture up, so a smaller one would
// leave the button half empty, and blurred if it were scaled.
bool SharpInTheme(const QIcon& Icon, int Size) {
    const qreal ratio = qApp->devicePixelRatio();
    const int needed = qCeil(Size * ratio);
    return Icon.pixmap(QSize(Size, Size), ratio).width() >= needed;
}

// Looked up once: the views ask for a row's picture every time they paint it.
template <std::size_t N>
QIcon Themed(const std::array<TPictureDef, N>& Table, std::array<QIcon, N>& Cache, int Index, int Size) {
    if (Index < 0 || Index >= int(N))
        return {};
    QIcon& icon = Cache[std::size_t(Index)];
    if (icon.isNull()) {
        UseThemeFallback();
        const TPictureDef& def = Table[std::size_t(Index)];
        const QIcon themed = QIcon::fromTheme(QString::fromLatin1(def.ThemeName));
        icon = !themed.isNull() && SharpInTheme(themed, Size) ? themed : BuiltIn(def);
    }
    return icon;
}

template <std::size_t N> QIcon Own(const std::array<TPictureDef, N>& Table, int Index) {
    return Index >= 0 && Index < int(N) ? BuiltIn(Table[std::size_t(Index)]) : QIcon();
}

} // namespace

QIcon ToolBarPicture(int Index) {
    static std::array<QIcon, ToolBarPictureCount> cache;
    return Themed(kToolBar, cache, Index, 32);
}

QIcon SmallPicture(int Index) {
    static std::array<QIcon, SmallPictureCount> cache;
    return Themed(kSmall, cache, Index, 16);
}

QIcon BuiltInToolBarPicture(int Index) {
    return Own(kToolBar, Index);
}

QIcon BuiltInSmallPicture(int Index) {
    return Own(kSmall, Index);
}

} // namespace quillo
