#include "ui/ApplicationStyle.h"

#include <QApplication>
#include <QProxyStyle>

namespace quillo {

namespace {
class TApplicationStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint Hint, const QStyleOption* Option, const QWidget* Widget,
                  QStyleHintReturn* Return) const override {
        if (Hint == SH_ToolTip_WakeUpDelay)
            return ToolTipDelayMs;
        return QProxyStyle::styleHint(Hint, Option, Widget, Return);
    }
};
} // namespace

void InstallApplicationStyle() {
    // The application takes ownership of the new style.
    QApplication::setStyle(new TApplicationStyle(QApplication::style()->name()));
}

} // namespace quillo
