#pragma once
// Redrawing of a widget is off for the object's life and back as it was however the scope ends
// (the bulk updates of the list views: one repaint after many changes).

#include <QWidget>

namespace quillo {

class TFreezeUpdates {
public:
    explicit TFreezeUpdates(QWidget* W) : FWidget(W), FWasEnabled(W->updatesEnabled()) {
        W->setUpdatesEnabled(false);
    }
    ~TFreezeUpdates() { FWidget->setUpdatesEnabled(FWasEnabled); }
    TFreezeUpdates(const TFreezeUpdates&) = delete;
    TFreezeUpdates& operator=(const TFreezeUpdates&) = delete;

private:
    QWidget* FWidget;
    bool FWasEnabled;
};

} // namespace quillo
