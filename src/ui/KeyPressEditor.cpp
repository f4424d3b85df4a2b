#include "ui/KeyPressEditor.h"

#include "input/keymap/KeyMap.h"
#include "ui/EnumChoices.h"
#include "ui/InspectorLayout.h"
#include "ui/KeyMenu.h"
#include "ui/ModifierEditor.h"
#include "ui/SegmentedPicker.h"

namespace tapforge::ui {

KeyPressEditor::KeyPressEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent)
    : StepEditor(host, stepID, parent) {
    QVBoxLayout* box = sectionLayout(addSection(column(), QStringLiteral("按键")));
    key_ = new KeyMenu;
    modifiers_ = new ModifierEditor;
    kind_ = new SegmentedPicker(QStringLiteral("动作"), labelsOf<KeyEventKind>());
    box->addWidget(rowOf({new QLabel(QStringLiteral("当前按键")), key_, nullptr}));
    box->addWidget(modifiers_);
    box->addWidget(kind_);
    box->addWidget(hintLabel(QStringLiteral("支持组合键：勾选下方修饰键即可，例如 ⌘ + C。")));

    connect(key_, &KeyMenu::chosen, this, [this](std::optional<uint16_t> code) {
        edit({}, [code](Step& s) { s.keyCode = code; });
    });
    connect(modifiers_, &ModifierEditor::memberToggled, this, [this](ModifierSet member, bool on) {
        edit({}, [member, on](Step& s) { on ? s.modifiers.insert(member) : s.modifiers.remove(member); });
    });
    connect(kind_, &SegmentedPicker::picked, this, [this](int i) {
        edit({}, [i](Step& s) { s.keyKind = allCases<KeyEventKind>()[i]; });
    });
}

void KeyPressEditor::refresh(const Step& step) {
    key_->setLabel(step.keyCode ? qs(KeyMap::name(*step.keyCode)) : QString());
    modifiers_->setModifiers(step.modifiers);
    kind_->setCurrent(indexOf(step.keyKind));
}

}  // namespace tapforge::ui
