#include "ui/CheckResultView.h"

#include <algorithm>
#include <cmath>

#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

#include "ui/InspectorLayout.h"

namespace tapforge::ui {

namespace {

int channel(int64_t value) {
    return static_cast<int>(std::clamp<int64_t>(value, 0, 255));
}

QString hexColor(int64_t r, int64_t g, int64_t b) {
    return QString::asprintf("#%02X%02X%02X", channel(r), channel(g), channel(b));
}

QLabel* swatch(int64_t r, int64_t g, int64_t b) {
    QPixmap pixmap(14, 14);
    pixmap.fill(QColor(channel(r), channel(g), channel(b)));
    auto* label = new QLabel;
    label->setPixmap(pixmap);
    return label;
}

}  // namespace

CheckResultView::CheckResultView(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 0);
    summary_ = new QLabel(this);
    summary_->setWordWrap(true);
    picture_ = new QLabel(this);
    points_ = new QWidget(this);
    new QVBoxLayout(points_);
    points_->layout()->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(summary_);
    layout->addWidget(picture_);
    layout->addWidget(points_);
    hide();
}

void CheckResultView::setOutcome(const app::CheckOutcome* outcome) {
    if (!outcome) {
        shownSerial_ = 0;
        hide();
        return;
    }
    if (outcome->serial == shownSerial_) return;
    shownSerial_ = outcome->serial;
    picture_->clear();
    picture_->hide();
    for (QWidget* row : points_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        row->hide();
        row->deleteLater();
    }
    points_->hide();
    if (outcome->kind == app::CheckOutcome::Kind::image)
        showImage(*outcome);
    else
        showColors(*outcome);
    show();
}

void CheckResultView::showImage(const app::CheckOutcome& outcome) {
    QString text = QStringLiteral("上次测试：%1 · 最高相似度 %2%")
                       .arg(outcome.passed ? QStringLiteral("通过") : QStringLiteral("未通过"))
                       .arg(outcome.score * 100, 0, 'f', 1);
    if (outcome.matchRect)
        text += QStringLiteral(" · 位置 (%1, %2)")
                    .arg(std::floor(outcome.matchRect->x + outcome.matchRect->width / 2), 0, 'f', 0)
                    .arg(std::floor(outcome.matchRect->y + outcome.matchRect->height / 2), 0, 'f', 0);
    summary_->setText(text);
    const platform::RgbaImage& thumb = outcome.thumbnail;
    if (thumb.empty()) return;
    QImage image(thumb.pixels.data(), thumb.width, thumb.height, thumb.width * 4, QImage::Format_RGBA8888_Premultiplied);
    QPixmap pixmap = QPixmap::fromImage(image.copy());
    if (outcome.matchRect && outcome.thumbnailBounds.width > 0 && outcome.thumbnailBounds.height > 0) {
        // Global points of the searched area -> thumbnail pixels.
        const double sx = thumb.width / outcome.thumbnailBounds.width;
        const double sy = thumb.height / outcome.thumbnailBounds.height;
        const platform::Rect& r = *outcome.matchRect;
        QPainter painter(&pixmap);
        painter.setPen(QPen(outcome.passed ? QColor(0x2E, 0xCC, 0x71) : QColor(0xE7, 0x4C, 0x3C), 2));
        painter.drawRect(QRectF((r.x - outcome.thumbnailBounds.x) * sx, (r.y - outcome.thumbnailBounds.y) * sy,
                                r.width * sx, r.height * sy));
    }
    picture_->setPixmap(pixmap);
    picture_->show();
}

void CheckResultView::showColors(const app::CheckOutcome& outcome) {
    summary_->setText(outcome.details.empty()
                          ? QStringLiteral("上次测试：未通过 · 没有截到屏幕")
                          : QStringLiteral("上次测试：%1").arg(outcome.passed ? QStringLiteral("通过")
                                                                           : QStringLiteral("未通过")));
    for (const vision::ColorCheckDetail& detail : outcome.details) {
        const ColorPoint& p = detail.point;
        auto* mark = new QLabel(detail.matched ? QStringLiteral("✔︎") : QStringLiteral("✘"));
        auto* position = new QLabel(QStringLiteral("(%1, %2)").arg(std::trunc(p.x), 0, 'f', 0).arg(std::trunc(p.y), 0, 'f', 0));
        auto* expected = new QLabel(QStringLiteral("期望 ") + hexColor(p.red, p.green, p.blue));
        auto* actual = new QLabel(QStringLiteral("实际 ") + hexColor(detail.actual.red, detail.actual.green, detail.actual.blue));
        points_->layout()->addWidget(rowOf({mark, position, swatch(p.red, p.green, p.blue), expected,
                                            swatch(detail.actual.red, detail.actual.green, detail.actual.blue), actual, nullptr}));
    }
    points_->setVisible(!outcome.details.empty());
}

}  // namespace tapforge::ui
