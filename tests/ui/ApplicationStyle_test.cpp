#include "ui/ApplicationStyle.h"

#include <QApplication>
#include <QStyle>
#include <gtest/gtest.h>

namespace quillo {
namespace {

TEST(ApplicationStyle, TooltipsAppearAfterAQuarterSecondAndOtherHintsStay) {
    const int fallAsleep = QApplication::style()->styleHint(QStyle::SH_ToolTip_FallAsleepDelay);
    InstallApplicationStyle();
    EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 250);
    EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_ToolTip_FallAsleepDelay), fallAsleep);
}

} // namespace
} // namespace quillo
