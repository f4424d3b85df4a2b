#include "ui/RecordingHUD.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>

#include "ui/OverlayContext.h"

namespace tapforge::ui {

namespace {
constexpr int kWidth = 460;
constexpr int kHeight = 56;
constexpr int kTopMargin = 24;
constexpr int kTickMs = 500;
}  // namespace

// The panel's one row, bound to the model.
class RecordingHUDRow : public QWidget {
public:
    RecordingHUDRow(RecordingHUDModel& model, std::function<void()> onStop)
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus),
          model_(model) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_X11DoNotAcceptFocus);
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(kWidth, kHeight);
        // Rounded corners without a compositor: the window's own shape.
        QPainterPath outline;
        outline.addRoundedRect(QRectF(rect()).adjusted(4, 4, -4, -4), 12, 12);
        setMask(QRegion(outline.toFillPolygon().toPolygon()));

        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(4 + 16, 4, 4 + 16, 4);
        row->setSpacing(10);
        auto* dot = new QLabel(this);
        dot->setFixedSize(10, 10);
        dot->setStyleSheet(QStringLiteral("background: #FF3B30; border-radius: 5px;"));
        auto* title = new QLabel(QStringLiteral("录制中"), this);
        title->setStyleSheet(QStringLiteral("color: white; font-size: 13px; font-weight: 600;"));
        count_ = new QLabel(this);
        count_->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255, 217); font-size: 13px;"));
        elapsed_ = new QLabel(this);
        elapsed_->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255, 217); font-size: 13px;"));
        mouseMove_ = new QLabel(QStringLiteral("含鼠标轨迹"), this);
        mouseMove_->setStyleSheet(QStringLiteral("color: #FFCC00; font-size: 11px;"));
        stop_ = new QPushButton(this);
        stop_->setFocusPolicy(Qt::NoFocus);
        stop_->setStyleSheet(QStringLiteral("QPushButton { color: white; background: #FF3B30; border: none;"
                                            " border-radius: 6px; padding: 4px 12px; font-size: 13px; }"));
        for (QWidget* w : {static_cast<QWidget*>(dot), static_cast<QWidget*>(title), static_cast<QWidget*>(count_),
                           static_cast<QWidget*>(elapsed_), static_cast<QWidget*>(mouseMove_)})
            row->addWidget(w);
        row->addStretch();
        row->addWidget(stop_);
        connect(stop_, &QPushButton::clicked, this, std::move(onStop));
        connect(&model, &RecordingHUDModel::changed, this, [this] { refresh(); });
        refresh();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(28, 28, 30));
    }
    // Movable by its background (no window manager moves it).
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) dragOffset_ = event->globalPosition().toPoint() - pos();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (event->buttons() & Qt::LeftButton) move(event->globalPosition().toPoint() - dragOffset_);
    }

private:
    void refresh() {
        count_->setText(QStringLiteral("已记录 %1 步").arg(model_.stepCount()));
        elapsed_->setText(model_.elapsedText());
        mouseMove_->setVisible(model_.recordsMouseMove());
        stop_->setText(QStringLiteral("停止 (") + model_.stopShortcut() + QStringLiteral(")"));
    }

    RecordingHUDModel& model_;
    QLabel* count_;
    QLabel* elapsed_;
    QLabel* mouseMove_;
    QPushButton* stop_;
    QPoint dragOffset_;
};

RecordingHUD::RecordingHUD() {
    timer_.setInterval(kTickMs);
    QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
}

RecordingHUD::~RecordingHUD() { delete window_; }

void RecordingHUD::show(const app::RecordingPanelState& state, std::function<void()> onStop) {
    hide();
    stopHandler_ = std::move(onStop);
    model_.setElapsedText(QStringLiteral("00:00"));
    update(state);
    startDate_.start();
    // The handler is copied before it runs: stopping hides the panel, which drops it.
    window_ = new RecordingHUDRow(model_, [this] {
        if (auto handler = stopHandler_) handler();
    });
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window_->move(area.left() + (area.width() - kWidth) / 2, area.top() + kTopMargin);
    }
    window_->show();
    window_->raise();
    timer_.start();
}

void RecordingHUD::update(const app::RecordingPanelState& state) {
    model_.setStepCount(state.stepCount);
    model_.setRecordsMouseMove(state.recordsMouseMove);
    model_.setStopShortcut(QString::fromStdString(state.stopShortcut));
}

void RecordingHUD::tick() {
    if (startDate_.isValid()) model_.setElapsedText(RecordingHUDModel::formatElapsed(startDate_.elapsed() / 1000));
}

void RecordingHUD::hide() {
    timer_.stop();
    if (window_) {
        window_->hide();
        // It may be the stop button's own click that brought us here.
        window_->deleteLater();
        window_ = nullptr;
    }
    startDate_.invalidate();
    stopHandler_ = nullptr;
}

std::optional<platform::Rect> RecordingHUD::frameInGlobalPoints() const {
    if (!window_) return std::nullopt;
    const QRect frame = window_->frameGeometry();
    const platform::Point topLeft = OverlayContext::globalFromQt(frame.topLeft());
    return platform::Rect{topLeft.x, topLeft.y, static_cast<double>(frame.width()), static_cast<double>(frame.height())};
}

}  // namespace tapforge::ui
