// The choices of an enumeration as the pickers offer them: labels in offering order, and the
// position of a value among them.
#pragma once

#include <QStringList>

#include "model/Enums.h"

namespace tapforge::ui {

template <class E>
QStringList labelsOf() {
    QStringList labels;
    for (const E value : allCases<E>()) {
        const std::string_view text = label(value);
        labels << QString::fromUtf8(text.data(), static_cast<int>(text.size()));
    }
    return labels;
}

template <class E>
int indexOf(E value) {
    const auto cases = allCases<E>();
    for (size_t i = 0; i < cases.size(); ++i)
        if (cases[i] == value) return static_cast<int>(i);
    return -1;
}

}  // namespace tapforge::ui
