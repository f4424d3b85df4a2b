#include "ui/KeyMenu.h"

#include <QMenu>

#include "input/keymap/KeyMap.h"
#include "ui/InspectorLayout.h"

namespace tapforge::ui {

KeyMenu::KeyMenu(QWidget* parent) : QToolButton(parent) {
    setPopupMode(QToolButton::InstantPopup);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto* menu = new QMenu(this);
    menu->addAction(QStringLiteral("不设置按键"), this, [this] { emit chosen(std::nullopt); });
    menu->addSeparator();
    for (const KeyMap::KeyGroup& group : KeyMap::pickerGroups()) {
        menu->addSection(qs(group.name));
        for (const uint16_t code : group.codes)
            menu->addAction(qs(KeyMap::name(code)), this, [this, code] { emit chosen(code); });
    }
    setMenu(menu);
    setLabel({});
}

void KeyMenu::setLabel(const QString& keyText) {
    setText(keyText.isEmpty() ? QStringLiteral("选择按键") : keyText);
}

}  // namespace tapforge::ui
