#include "ui/PermissionSheet.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/AppState.h"
#include "ui/Icons.h"
#include "ui/Widgets.h"

namespace tapforge::ui {

PermissionSheet::PermissionSheet(app::AppState& state, const SessionIdentity& identity, QWidget* parent)
    : QDialog(parent), state_(state) {
    setObjectName("PermissionSheet");
    setWindowTitle(QStringLiteral("权限诊断"));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);

    auto* header = new QHBoxLayout;
    auto* mark = new QLabel;
    mark->setPixmap(icon("stethoscope").pixmap(20));
    header->addWidget(mark);
    header->addWidget(makeLabel(QStringLiteral("权限诊断"), 14, QFont::DemiBold));
    header->addStretch();
    auto* done = new QPushButton(QStringLiteral("完成"));
    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    header->addWidget(done);
    layout->addLayout(header);

    auto* status = new QGroupBox(QStringLiteral("当前状态"));
    auto* grid = new QGridLayout(status);
    input_ = addRow(grid, 0, QStringLiteral("辅助功能"), QStringLiteral("X 服务器提供 XTEST、RECORD 与 XInput 2 扩展"));
    screen_ = addRow(grid, 1, QStringLiteral("屏幕录制"), QStringLiteral("能从 X 服务器截取屏幕"));
    connect(input_.request, &QPushButton::clicked, this, [this] { state_.ensureAccessibility(); update(); });
    connect(screen_.request, &QPushButton::clicked, this, [this] { state_.ensureScreenRecording(); update(); });
    auto* restart = new QPushButton(QStringLiteral("重启应用"));
    restart->setToolTip(QStringLiteral("授权变更后必须重启本应用才会生效"));
    connect(restart, &QPushButton::clicked, this, [this] { state_.relaunch(); });
    grid->addWidget(restart, 2, 0, 1, 2, Qt::AlignLeft);
    grid->addWidget(makeLabel(QStringLiteral("在系统设置里勾选之后，需要重启本应用才能生效。"), 0, QFont::Normal,
                              LabelTone::secondary),
                    3, 0, 1, 5);
    layout->addWidget(status);

    auto* who = new QGroupBox(QStringLiteral("应用身份"));
    auto* form = new QGridLayout(who);
    const QList<QPair<QString, QString>> lines{
        {QStringLiteral("路径"), identity.executable},
        {QStringLiteral("X 显示"), identity.display},
        {QStringLiteral("X 服务器"), identity.serverVendor + QStringLiteral("，版本 ") + identity.serverVersion},
        {QStringLiteral("会话类型"), identity.wayland ? QStringLiteral("Wayland（经 Xwayland 运行）") : QStringLiteral("X11")},
    };
    for (int i = 0; i < lines.size(); ++i) {
        form->addWidget(makeLabel(lines[i].first, 0, QFont::Medium), i, 0);
        auto* value = makeLabel(lines[i].second);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setObjectName(QStringLiteral("identity%1").arg(i));
        form->addWidget(value, i, 1);
    }
    if (identity.wayland) {
        auto* warn = makeLabel(QStringLiteral("当前是 Wayland 会话：本应用通过 Xwayland 运行，模拟的鼠标键盘、录制和截图都只能作用于 "
                                              "X11 窗口，原生 Wayland 窗口收不到输入，也截不到画面。"),
                               0, QFont::Normal, LabelTone::orange);
        warn->setWordWrap(true);
        form->addWidget(warn, int(lines.size()), 0, 1, 2);
    }
    layout->addWidget(who);
    layout->addStretch();

    timer_ = new QTimer(this);
    timer_->setInterval(1500);
    connect(timer_, &QTimer::timeout, this, [this] { state_.refreshPermissions(); update(); });
    connect(&state_, &app::AppState::permissionsChanged, this, &PermissionSheet::update);
    connect(this, &QDialog::finished, timer_, &QTimer::stop);
    update();
}

PermissionSheet::Row PermissionSheet::addRow(QGridLayout* grid, int line, const QString& title, const QString& detail) {
    Row row;
    row.mark = new QLabel;
    grid->addWidget(row.mark, line, 0);
    auto* name = makeLabel(title);
    name->setFixedWidth(70);
    name->setToolTip(detail);
    grid->addWidget(name, line, 1);
    row.state = makeLabel({});
    grid->addWidget(row.state, line, 2);
    row.request = new QPushButton(QStringLiteral("请求授权"));
    grid->addWidget(row.request, line, 3);
    grid->addWidget(makeLabel(detail, 0, QFont::Normal, LabelTone::secondary), line, 4);
    return row;
}

void PermissionSheet::update() {
    const std::pair<Row*, bool> rows[] = {{&input_, state_.accessibilityGranted()},
                                          {&screen_, state_.screenRecordingGranted()}};
    for (auto [row, granted] : rows) {
        row->mark->setPixmap(tinted(icon(granted ? "checkmark.circle.fill" : "xmark.circle.fill").pixmap(16),
                                    granted ? QColor(40, 160, 70) : QColor(215, 45, 45)));
        row->state->setText(granted ? QStringLiteral("已授权") : QStringLiteral("未授权"));
        setTone(row->state, granted ? LabelTone::green : LabelTone::red);
        row->request->setEnabled(!granted);
    }
}

void PermissionSheet::showEvent(QShowEvent* event) {
    state_.refreshPermissions();
    update();
    timer_->start();
    QDialog::showEvent(event);
}

}  // namespace tapforge::ui
