// "修饰键" with the toggles ⌘ ⇧ ⌥ ⌃. Fn is not offered; a set that holds it keeps it.
#pragma once

#include <QWidget>

#include "model/ModifierSet.h"

class QCheckBox;

namespace tapforge::ui {

class ModifierEditor : public QWidget {
    Q_OBJECT
public:
    explicit ModifierEditor(QWidget* parent = nullptr);
    void setModifiers(ModifierSet modifiers);

signals:
    // The user turned one member on or off; the other bits of the set are left as they are.
    void memberToggled(tapforge::ModifierSet member, bool on);

private:
    QCheckBox* boxes_[4];
};

}  // namespace tapforge::ui
