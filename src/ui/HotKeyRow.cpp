#include "ui/HotKeyRow.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "input/keymap/KeyMap.h"
#include "ui/Widgets.h"

namespace tapforge::ui {

namespace {
// The modifier editor's order: ⌘ ⇧ ⌥ ⌃ (fn is never offered).
const ModifierSet kEditorOrder[4] = {ModifierSet::command(), ModifierSet::shift(), ModifierSet::option(),
                                     ModifierSet::control()};
const char* const kEditorSymbols[4] = {"⌘", "⇧", "⌥", "⌃"};
}  // namespace

QString shortcutText(const HotKeyShortcut& shortcut) {
    const auto text = shortcut.displayText();
    return text ? QString::fromStdString(*text) : QStringLiteral("未设置");
}

HotKeyRow::HotKeyRow(const QString& title, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 4, 0, 4);
    auto* line = new QHBoxLayout;
    auto* name = makeLabel(title);
    name->setFixedWidth(118);
    line->addWidget(name);

    keyButton_ = new QToolButton;
    keyButton_->setFixedWidth(120);
    keyButton_->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(keyButton_);
    menu->addAction(QStringLiteral("未设置"), this, [this] { change({}); });
    menu->addSeparator();
    for (const auto& group : KeyMap::pickerGroups()) {
        menu->addSection(QString::fromStdString(group.name));
        for (uint16_t code : group.codes)
            menu->addAction(QString::fromStdString(KeyMap::name(code)), this,
                            [this, code] { change({code, shortcut_.modifiers}); });
    }
    keyButton_->setMenu(menu);
    line->addWidget(keyButton_);

    clear_ = new QPushButton(QStringLiteral("清除"));
    connect(clear_, &QPushButton::clicked, this, [this] { change({}); });
    line->addWidget(clear_);
    warning_ = makeLabel(QStringLiteral("请勾选修饰键，或改用 F1~F12"), 0, QFont::Normal, LabelTone::orange);
    line->addWidget(warning_);
    line->addStretch();
    column->addLayout(line);

    auto* modifiers = new QHBoxLayout;
    modifiers->addWidget(makeLabel(QStringLiteral("修饰键")));
    for (int i = 0; i < 4; ++i) {
        boxes_[i] = new QCheckBox(QString::fromUtf8(kEditorSymbols[i]));
        connect(boxes_[i], &QCheckBox::clicked, this, [this, i](bool on) {
            HotKeyShortcut next = shortcut_;
            if (on) next.modifiers.insert(kEditorOrder[i]);
            else next.modifiers.remove(kEditorOrder[i]);
            change(next);
        });
        modifiers->addWidget(boxes_[i]);
    }
    modifiers->addStretch();
    column->addLayout(modifiers);
    setShortcut({});
}

void HotKeyRow::setShortcut(const HotKeyShortcut& shortcut) {
    shortcut_ = shortcut;
    keyButton_->setText(shortcutText(shortcut));
    clear_->setEnabled(shortcut.keyCode.has_value());
    warning_->setVisible(shortcut.keyCode && !shortcut.isUsable());
    for (int i = 0; i < 4; ++i) boxes_[i]->setChecked(shortcut.modifiers.contains(kEditorOrder[i]));
}

void HotKeyRow::change(const HotKeyShortcut& shortcut) {
    setShortcut(shortcut);
    if (onChange) onChange(shortcut);
}

}  // namespace tapforge::ui
