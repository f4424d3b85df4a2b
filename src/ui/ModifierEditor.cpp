#include "ui/ModifierEditor.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

namespace tapforge::ui {

namespace {

struct Toggle {
    ModifierSet member;
    const char* symbol;
};
constexpr Toggle kToggles[4] = {
    {ModifierSet::command(), "\u2318"},
    {ModifierSet::shift(), "\u21E7"},
    {ModifierSet::option(), "\u2325"},
    {ModifierSet::control(), "\u2303"},
};

}  // namespace

ModifierEditor::ModifierEditor(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("修饰键")));
    for (int i = 0; i < 4; ++i) {
        boxes_[i] = new QCheckBox(QString::fromUtf8(kToggles[i].symbol), this);
        layout->addWidget(boxes_[i]);
        const ModifierSet member = kToggles[i].member;
        connect(boxes_[i], &QCheckBox::clicked, this, [this, member](bool on) { emit memberToggled(member, on); });
    }
    layout->addStretch(1);
}

void ModifierEditor::setModifiers(ModifierSet modifiers) {
    for (int i = 0; i < 4; ++i) {
        const QSignalBlocker blocker(boxes_[i]);
        boxes_[i]->setChecked(modifiers.contains(kToggles[i].member));
    }
}

}  // namespace tapforge::ui
