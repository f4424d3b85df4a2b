#include "ui/TypeTextEditor.h"

#include <QPlainTextEdit>

#include "ui/InspectorLayout.h"

namespace tapforge::ui {

TypeTextEditor::TypeTextEditor(InspectorHost& host, const Uuid& stepID, QWidget* parent)
    : StepEditor(host, stepID, parent) {
    QVBoxLayout* box = sectionLayout(addSection(column(), QStringLiteral("输入文本")));
    text_ = multiLineEditor();
    box->addWidget(text_);
    box->addWidget(hintLabel(QStringLiteral("按美式键盘布局逐字符输入（中文等非 ASCII 字符会被跳过）。")));
    connect(text_, &QPlainTextEdit::textChanged, this, [this] {
        const std::string text = text_->toPlainText().toStdString();
        edit("text", [&text](Step& s) { s.text = text; });
    });
}

void TypeTextEditor::refresh(const Step& step) {
    showPlainText(text_, step.text);
}

}  // namespace tapforge::ui
