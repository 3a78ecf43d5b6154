#include "ui/WindowPlacement.h"

#include <gtest/gtest.h>

#include <climits>

namespace quillo {
namespace {

TEST(WindowPlacement, StoredRectIsUsedWhenItIsSaneAndOnAScreen) {
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    struct Case {
        TWindowRect Stored;
        std::optional<QRect> Expected;
    } cases[] = {
        {{100, 50, 900, 650}, QRect(100, 50, 800, 600)},
        {{2000, 10, 2500, 500}, QRect(2000, 10, 500, 490)},  // second monitor
        {{-300, -20, 200, 400}, QRect(-300, -20, 500, 420)}, // partly off the left edge
        {{0, 0, 0, 0}, std::nullopt},                        // first run
        {{500, 500, 400, 900}, std::nullopt},                // right left of left
        {{500, 500, 900, 500}, std::nullopt},                // no height
        {{5000, 5000, 6000, 6000}, std::nullopt},            // monitor that is gone
        {{INT_MIN, 0, INT_MAX, 100}, std::nullopt},          // garbage must not overflow
        {{INT_MAX - 10, 0, INT_MAX, 100}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Stored.Left << "," << c.Stored.Top << "," << c.Stored.Right
                                        << "," << c.Stored.Bottom);
        EXPECT_EQ(UsableWindowRect(c.Stored, screens), c.Expected);
    }
}

TEST(WindowPlacement, CentringKeepsTheTitleBarOnSmallScreens) {
    const QSize designed(1014, 800);
    EXPECT_EQ(CentredRect(designed, QRect(0, 0, 1920, 1080)), QRect(453, 140, 1014, 800));
    EXPECT_EQ(CentredRect(designed, QRect(1920, 40, 1280, 1000)), QRect(1920 + 133, 40 + 100, 1014, 800));
    EXPECT_EQ(CentredRect(designed, QRect(0, 0, 800, 600)), QRect(0, 0, 1014, 800));
}

TEST(WindowPlacement, WindowRectRoundTripsBounds) {
    const TWindowRect r = ToWindowRect(QRect(100, 50, 800, 600));
    EXPECT_EQ(r, (TWindowRect{100, 50, 900, 650}));
    EXPECT_EQ(UsableWindowRect(r, {}), QRect(100, 50, 800, 600));
}

} // namespace
} // namespace quillo
