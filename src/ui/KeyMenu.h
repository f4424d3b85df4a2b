// The key menu of the key editors: a button labelled with the current key that opens a menu of
// "不设置按键", then the key map's picker groups as titled sections.
#pragma once

#include <cstdint>
#include <optional>

#include <QToolButton>

namespace tapforge::ui {

class KeyMenu : public QToolButton {
    Q_OBJECT
public:
    explicit KeyMenu(QWidget* parent = nullptr);
    // The button's label: the key's display text, or "选择按键" when no key is set.
    void setLabel(const QString& keyText);

signals:
    // The user chose a key (nothing: the key was cleared).
    void chosen(std::optional<uint16_t> keyCode);
};

}  // namespace tapforge::ui
