// The last test or run of a colour or image check: the score and where the best match lies,
// drawn on a small copy of the searched area, or each point's actual colour next to the
// expected one.
#pragma once

#include <QWidget>

#include "app/CheckOutcome.h"

class QLabel;
class QVBoxLayout;

namespace tapforge::ui {

class CheckResultView : public QWidget {
    Q_OBJECT
public:
    explicit CheckResultView(QWidget* parent = nullptr);
    // Nothing: hidden. Redraws only when the outcome changed.
    void setOutcome(const app::CheckOutcome* outcome);

private:
    void showImage(const app::CheckOutcome& outcome);
    void showColors(const app::CheckOutcome& outcome);

    uint64_t shownSerial_ = 0;   // 0: nothing shown
    QLabel* summary_;
    QLabel* picture_;
    QWidget* points_;
};

}  // namespace tapforge::ui
