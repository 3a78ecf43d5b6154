#include "ui/FrmAbout.h"

#include "core/app/MyUtils.h"
#include "core/engine/ServiceSite.h"
#include "ui/ScreenArea.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QRadialGradient>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

using namespace quillo;

namespace {

// The release date the box names: 11 August 2009, as a day count from 30 December 1899.
constexpr double kReleaseDate = 40036;

const QColor kPanelColour(218, 232, 239);
const QColor kProductColour(0, 91, 183);

QString Q(const std::string& Text) {
    return QString::fromStdString(Text);
}

// The banner, drawn at the screen's pixel density so that it stays sharp: a blue sky, a
// light horizon and a cloud carrying an upward arrow.
QPixmap Banner(qreal Ratio) {
    const int W = TFrm_About::DesignedClientWidth;
    const int H = TFrm_About::BannerHeight;
    QPixmap Picture(QSize(W, H) * Ratio);
    Picture.setDevicePixelRatio(Ratio);
    QPainter P(&Picture);
    P.setRenderHint(QPainter::Antialiasing);

    QLinearGradient Sky(0, 0, 0, H);
    Sky.setColorAt(0, QColor(0, 70, 150));
    Sky.setColorAt(1, QColor(40, 140, 215));
    P.fillRect(QRectF(0, 0, W, H), Sky);
    QRadialGradient Glow(QPointF(W * 0.72, H * 0.1), W * 0.6);
    Glow.setColorAt(0, QColor(255, 255, 255, 70));
    Glow.setColorAt(1, QColor(255, 255, 255, 0));
    P.fillRect(QRectF(0, 0, W, H), Glow);

    QPainterPath Hills;
    Hills.moveTo(0, H * 0.78);
    Hills.cubicTo(W * 0.3, H * 0.62, W * 0.6, H * 0.98, W, H * 0.74);
    Hills.lineTo(W, H);
    Hills.lineTo(0, H);
    P.fillPath(Hills, kPanelColour);

    // The cloud, centred, with the arrow cut into it.
    const QPointF C(W / 2.0, H * 0.47);
    QPainterPath Cloud;
    Cloud.addEllipse(C + QPointF(-30, 2), 18, 16);
    Cloud.addEllipse(C + QPointF(-8, -10), 22, 22);
    Cloud.addEllipse(C + QPointF(17, -2), 17, 17);
    Cloud.addRoundedRect(QRectF(C.x() - 42, C.y(), 78, 18), 9, 9);
    Cloud.setFillRule(Qt::WindingFill);
    P.fillPath(Cloud.simplified(), QColor(255, 255, 255, 235));

    QPainterPath Arrow;
    Arrow.moveTo(C + QPointF(-4, -22));
    Arrow.lineTo(C + QPointF(-18, -6));
    Arrow.lineTo(C + QPointF(-9, -6));
    Arrow.lineTo(C + QPointF(-9, 13));
    Arrow.lineTo(C + QPointF(1, 13));
    Arrow.lineTo(C + QPointF(1, -6));
    Arrow.lineTo(C + QPointF(10, -6));
    Arrow.closeSubpath();
    P.fillPath(Arrow, kProductColour);
    return Picture;
}

QLabel* CenteredLabel(QWidget* Parent, const char* Name) {
    auto* L = new QLabel(Parent);
    L->setObjectName(QString::fromLatin1(Name));
    L->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    return L;
}

} // namespace

TFrm_About::TFrm_About(QWidget* Owner, const TEXEVersionInfo& Info)
    : TFormBase<QDialog>(Owner, Qt::Dialog | Qt::FramelessWindowHint), FInfo(Info) {
    CreateForm();
}

void TFrm_About::CreateWidgets() {
    setObjectName(QStringLiteral("Frm_About"));
    setWindowTitle(QStringLiteral("About"));
    setModal(true);

    auto* Outer = new QVBoxLayout(this);
    Outer->setContentsMargins(0, 0, 0, 0);
    auto* Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::NoFrame);
    Panel1->setAutoFillBackground(true);
    // Fixed colours: the box looks the same under a dark desktop theme.
    QPalette Colours = Panel1->palette();
    Colours.setColor(QPalette::Window, kPanelColour);
    Colours.setColor(QPalette::WindowText, Qt::black);
    Panel1->setPalette(Colours);
    Outer->addWidget(Panel1);

    auto* Column = new QVBoxLayout(Panel1);
    Column->setContentsMargins(0, 0, 0, 8);
    Column->setSpacing(1);

    const qreal Ratio = parentWidget() ? parentWidget()->devicePixelRatioF() : devicePixelRatioF();
    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(DesignedClientWidth, BannerHeight);
    Image1->setPixmap(Banner(Ratio));
    Image1->setAccessibleName(QStringLiteral("Quillo Uploader"));
    Column->addWidget(Image1);
    Column->addSpacing(3);

    lab_product = CenteredLabel(Panel1, "lab_product");
    QFont Big = lab_product->font();
    Big.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    Big.setPixelSize(20);
    Big.setBold(true);
    lab_product->setFont(Big);
    QPalette Blue = lab_product->palette();
    Blue.setColor(QPalette::WindowText, kProductColour);
    lab_product->setPalette(Blue);
    Column->addWidget(lab_product);

    lab_version = CenteredLabel(Panel1, "lab_version");
    QFont Bold = lab_version->font();
    Bold.setBold(true);
    lab_version->setFont(Bold);
    Column->addWidget(lab_version);
    lab_releasedate = CenteredLabel(Panel1, "lab_releasedate");
    Column->addWidget(lab_releasedate);
    lab_copyright = CenteredLabel(Panel1, "lab_copyright");
    Column->addWidget(lab_copyright);

    lab_siteurl = CenteredLabel(Panel1, "lab_siteurl");
    QFont Link = lab_siteurl->font();
    Link.setUnderline(true);
    lab_siteurl->setFont(Link);
    QPalette LinkColour = lab_siteurl->palette();
    LinkColour.setColor(QPalette::WindowText, Qt::blue);
    lab_siteurl->setPalette(LinkColour);
    lab_siteurl->setCursor(Qt::PointingHandCursor);
    lab_siteurl->setFocusPolicy(Qt::TabFocus);
    lab_siteurl->setAccessibleDescription(QStringLiteral("Opens the web site in the browser"));
    auto* LinkRow = new QHBoxLayout;
    LinkRow->addStretch();
    LinkRow->addWidget(lab_siteurl);
    LinkRow->addStretch();
    Column->addLayout(LinkRow);
    Column->addStretch();

    // Close sits in the bottom right corner, beside the centred lines rather than under them.
    btn_close = new QPushButton(QStringLiteral("Close"), Panel1);
    btn_close->setObjectName(QStringLiteral("btn_close"));
    btn_close->setDefault(true);
    btn_close->setAutoDefault(true);
    btn_close->setMinimumSize(75, 25);
    connect(btn_close, &QPushButton::clicked, this, &QDialog::accept);

    setFixedWidth(DesignedClientWidth);
    // The designed height, or more when the desktop's fonts need it: no line is ever cut off.
    const int Needed = Column->sizeHint().height() + btn_close->sizeHint().height() / 2;
    setFixedHeight(std::max(DesignedClientHeight, Needed));
    const QSize Button = btn_close->sizeHint().expandedTo(btn_close->minimumSize());
    btn_close->setGeometry(DesignedClientWidth - Button.width() - 9, height() - Button.height() - 9,
                           Button.width(), Button.height());

    // A thin edge over everything, the banner included, so that the borderless box stands out
    // from a light window behind it.
    auto* Edge = new QFrame(this);
    Edge->setFrameStyle(QFrame::Box | QFrame::Plain);
    QPalette EdgeColour = Edge->palette();
    EdgeColour.setColor(QPalette::WindowText, QColor(110, 140, 165));
    Edge->setPalette(EdgeColour);
    Edge->setAttribute(Qt::WA_TransparentForMouseEvents);
    Edge->setFocusPolicy(Qt::NoFocus);
    Edge->setGeometry(0, 0, width(), height());
    Edge->raise();
}

void TFrm_About::FormCreate() {
    lab_product->setText(Q(FInfo.Value("ProductName")));
    lab_version->setText(
        Q(FormatText("Version: %d.%d.%d (build %d)", {int64_t(FInfo.Major()), int64_t(FInfo.Minor()),
                                                      int64_t(FInfo.Release()), int64_t(FInfo.Build())})));
    const QDate Released = DateTimeToQDateTime(kReleaseDate).date();
    lab_releasedate->setText(
        QStringLiteral("Release date: %1").arg(QLocale().toString(Released, QLocale::ShortFormat)));
    lab_copyright->setText(Q(FInfo.Value("LegalCopyright")));
    lab_siteurl->setText(Q(StartPageUrl()));
    lab_siteurl->setAccessibleName(lab_siteurl->text());

    // Every control hands its keys to the box first.
    installEventFilter(this);
    for (QWidget* Child : findChildren<QWidget*>())
        Child->installEventFilter(this);
    btn_close->setFocus();
}

bool TFrm_About::FormKeyPress(int Key) {
    if (Key != 27)
        return false;
    done(QDialog::Accepted);
    return true;
}

void TFrm_About::lab_siteurlClick() {
    QDesktopServices::openUrl(QUrl(lab_siteurl->text()));
}

bool TFrm_About::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::KeyPress) {
        auto* Key = static_cast<QKeyEvent*>(Event);
        if (Key->key() == Qt::Key_Escape)
            return FormKeyPress(27);
        // The link answers Space like a button; Enter stays with the default button.
        if (Watched == lab_siteurl && Key->key() == Qt::Key_Space) {
            lab_siteurlClick();
            return true;
        }
    }
    if (Watched == lab_siteurl && Event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton &&
        lab_siteurl->rect().contains(static_cast<QMouseEvent*>(Event)->position().toPoint())) {
        lab_siteurlClick();
        return true;
    }
    return TFormBase<QDialog>::eventFilter(Watched, Event);
}

namespace quillo {

void ShowAboutBox(QWidget* Owner) {
    // The owner may go away while the box runs its own loop; then it takes the box with it.
    QPointer<TFrm_About> Box = new TFrm_About(Owner);
    if (Owner && Owner->isVisible()) {
        // Centred on the owner's frame, kept on the owner's screen.
        QRect Place(QPoint(), Box->size());
        Place.moveCenter(Owner->frameGeometry().center());
        if (const QScreen* Screen = Owner->screen())
            Place.moveTopLeft(ClampIntoArea(Place, Screen->availableGeometry()));
        Box->move(Place.topLeft());
    }
    Box->exec();
    delete Box.data();
}

} // namespace quillo
