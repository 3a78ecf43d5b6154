#include "ui/Pictures.h"

#include <QImage>
#include <QPixmap>
#include <gtest/gtest.h>

namespace quillo {
namespace {

// How many pixels of a picture are drawn at all.
int Drawn(const QIcon& Icon, int Size, QIcon::Mode Mode = QIcon::Normal) {
    const QImage image = Icon.pixmap(QSize(Size, Size), Mode).toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qAlpha(image.pixel(x, y)) > 0;
    return n;
}

TEST(Pictures, EveryPictureIsDrawnFromTheThemeOrOurOwn) {
    for (int i = 0; i < ToolBarPictureCount; ++i) {
        EXPECT_GT(Drawn(ToolBarPicture(i), 32), 0) << i;
        EXPECT_GT(Drawn(BuiltInToolBarPicture(i), 32), 0) << i;
    }
    for (int i = 0; i < SmallPictureCount; ++i) {
        EXPECT_GT(Drawn(SmallPicture(i), 16), 0) << i;
        EXPECT_GT(Drawn(BuiltInSmallPicture(i), 16), 0) << i;
    }
    EXPECT_TRUE(ToolBarPicture(ToolBarPictureCount).isNull());
    EXPECT_TRUE(SmallPicture(-1).isNull());
}

// Our own pictures are vectors: drawn for a double-density screen they have four times the
// pixels, not a blown-up copy, and disabled ones are grey.
TEST(Pictures, OwnPicturesAreDrawnAtTheSizeAsked) {
    for (int i = 0; i < ToolBarPictureCount; ++i) {
        const QIcon icon = BuiltInToolBarPicture(i);
        EXPECT_EQ(icon.pixmap(QSize(64, 64)).size(), QSize(64, 64));
        const int small = Drawn(icon, 32), big = Drawn(icon, 64);
        EXPECT_GT(big, 3 * small) << i;
        const QImage disabled = icon.pixmap(QSize(32, 32), QIcon::Disabled).toImage();
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const QRgb p = disabled.pixel(x, y);
                if (qAlpha(p) == 255) {
                    EXPECT_TRUE(qRed(p) == qGreen(p) && qGreen(p) == qBlue(p)) << i;
                }
            }
    }
}

} // namespace
} // namespace quillo
