#include "ui/SettingsSheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/AppState.h"
#include "ui/HotKeyRow.h"
#include "ui/Icons.h"
#include "ui/Widgets.h"

namespace tapforge::ui {

SettingsSheet::SettingsSheet(app::AppState& state, QWidget* parent) : QDialog(parent), state_(state) {
    setObjectName("SettingsSheet");
    setWindowTitle(QStringLiteral("设置"));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);

    auto* header = new QHBoxLayout;
    auto* gear = new QLabel;
    gear->setPixmap(icon("gearshape.fill").pixmap(18));
    header->addWidget(gear);
    header->addWidget(makeLabel(QStringLiteral("设置"), 14, QFont::DemiBold));
    header->addStretch();
    auto* close = makeToolButton("xmark.circle.fill", {}, QStringLiteral("关闭"));
    close->setObjectName("closeSettings");
    connect(close, &QToolButton::clicked, this, &QDialog::accept);
    header->addWidget(close);
    layout->addLayout(header);

    layout->addWidget(makeLabel(QStringLiteral("热键设置"), 0, QFont::DemiBold));
    record_ = new HotKeyRow(QStringLiteral("开始 / 停止录制"));
    record_->onChange = [this](const HotKeyShortcut& s) { state_.setHotKeyRecord(s); };
    layout->addWidget(record_);
    play_ = new HotKeyRow(QStringLiteral("开始 / 停止播放"));
    play_->onChange = [this](const HotKeyShortcut& s) { state_.setHotKeyPlay(s); };
    layout->addWidget(play_);

    auto* esc = new QHBoxLayout;
    auto* escTitle = makeLabel(QStringLiteral("停止播放"));
    escTitle->setFixedWidth(118);
    esc->addWidget(escTitle);
    auto* cap = makeLabel(QStringLiteral("Esc"), 0, QFont::Medium);
    cap->setStyleSheet(QStringLiteral("background: rgba(10,132,255,40); border-radius: 5px; padding: 2px 8px;"));
    esc->addWidget(cap);
    esc->addWidget(makeLabel(QStringLiteral("固定，不可修改"), 0, QFont::Normal, LabelTone::secondary));
    esc->addStretch();
    layout->addLayout(esc);

    conflict_ = new QWidget;
    auto* conflictLine = new QHBoxLayout(conflict_);
    conflictLine->setContentsMargins(0, 0, 0, 0);
    auto* warnIcon = new QLabel;
    warnIcon->setPixmap(tinted(icon("exclamationmark.triangle.fill").pixmap(16), QColor(230, 126, 0)));
    conflictLine->addWidget(warnIcon);
    conflictLine->addWidget(
        makeLabel(QStringLiteral("录制与播放设置了相同热键，请改为不同的组合。"), 0, QFont::Normal, LabelTone::orange));
    conflictLine->addStretch();
    layout->addWidget(conflict_);

    layout->addWidget(makeLabel(QStringLiteral("说明"), 0, QFont::Medium));
    for (const char* line : {"· 热键全局生效，切换到其他软件后依然可用。",
                             "· 需要至少一个修饰键（⌘ ⇧ ⌥ ⌃），或直接使用 F1~F12；未设置的项不生效。",
                             "· 若热键与其他软件冲突，改成一个不常用的组合即可。"})
        layout->addWidget(makeLabel(QString::fromUtf8(line), 11, QFont::Normal, LabelTone::secondary));

    defaults_ = new QPushButton(QStringLiteral("恢复默认（F9 录制 / F10 播放）"));
    connect(defaults_, &QPushButton::clicked, this, [this] {
        state_.setHotKeyRecord(HotKeyShortcut::defaultRecord());
        state_.setHotKeyPlay(HotKeyShortcut::defaultPlay());
    });
    layout->addWidget(defaults_, 0, Qt::AlignLeft);
    layout->addStretch();

    connect(&state_, &app::AppState::hotKeysChanged, this, &SettingsSheet::update);
    update();
}

void SettingsSheet::update() {
    record_->setShortcut(state_.hotKeyRecord());
    play_->setShortcut(state_.hotKeyPlay());
    conflict_->setVisible(HotKeyShortcut::conflict(state_.hotKeyRecord(), state_.hotKeyPlay()));
}

}  // namespace tapforge::ui
