// Small layout helpers shared by the step editors: titled sections, hint lines and rows.
#pragma once

#include <initializer_list>
#include <string>

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QString>
#include <QVBoxLayout>

namespace tapforge::ui {

inline QString qs(const std::string& text) { return QString::fromStdString(text); }

// A titled section with a vertical layout; the editors' section titles are these boxes' titles.
inline QGroupBox* addSection(QVBoxLayout* into, const QString& title) {
    auto* box = new QGroupBox(title);
    new QVBoxLayout(box);
    into->addWidget(box);
    return box;
}

inline QVBoxLayout* sectionLayout(QGroupBox* box) { return static_cast<QVBoxLayout*>(box->layout()); }

inline QLabel* hintLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("color: palette(mid);"));
    return label;
}

// A row of widgets (nullptr = stretch), as one widget so it can be shown and hidden.
inline QWidget* rowOf(std::initializer_list<QWidget*> widgets) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    for (QWidget* w : widgets) {
        if (w)
            layout->addWidget(w);
        else
            layout->addStretch(1);
    }
    return row;
}

// The multi-line text editors of the type-text and comment editors.
inline QPlainTextEdit* multiLineEditor() {
    auto* editor = new QPlainTextEdit;
    QFont font = editor->font();
    font.setPointSize(12);
    editor->setFont(font);
    editor->setFixedHeight(80);
    return editor;
}

inline void showPlainText(QPlainTextEdit* editor, const std::string& text) {
    const QString value = qs(text);
    if (editor->toPlainText() == value) return;   // keeps the cursor while the user types
    const QSignalBlocker blocker(editor);
    editor->setPlainText(value);
}

}  // namespace tapforge::ui
